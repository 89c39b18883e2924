#!/bin/bash
# The install tree of a build, as `cmake --install` lays it out under a scratch DESTDIR.
#
#   installTree.sh install   BUILD_DIR SOURCE_DIR STAGE  installs and checks the tree
#   installTree.sh desktop   STAGE                       desktop-file-validate
#   installTree.sh appstream STAGE                       appstreamcli validate
#
# Exit 77 (skipped) when a validator is not installed.
set -uo pipefail

APP_ID=org.quorvane.Quorvane
SIZES="16 24 32 48 64 128 256"
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# Value of key in the [Desktop Entry] group of a desktop file.
desktop_key() {
    sed -n '/^\[Desktop Entry\]/,/^\[/p' "$1" | sed -n "s/^$2=//p" | head -n 1
}

# Width and height of a PNG file, from its IHDR chunk.
png_size() {
    local w h
    w=$(od -An -tu1 -j16 -N4 "$1" | awk '{print $1*16777216 + $2*65536 + $3*256 + $4}')
    h=$(od -An -tu1 -j20 -N4 "$1" | awk '{print $1*16777216 + $2*65536 + $3*256 + $4}')
    echo "${w}x${h}"
}

check_install() {
    local build=$1 source=$2 stage=$3
    rm -rf "$stage"
    if ! DESTDIR="$stage" cmake --install "$build" --prefix /usr >"$stage.log" 2>&1; then
        cat "$stage.log" >&2
        fail "cmake --install failed"
        return
    fi

    # Exactly these files: the programs, the manual page and the desktop files, nothing
    # from the tests.
    local want=(usr/bin/quorvane
                usr/bin/quorvane-get
                usr/share/man/man1/quorvane-get.1
                "usr/share/applications/$APP_ID.desktop"
                "usr/share/metainfo/$APP_ID.metainfo.xml"
                "usr/share/icons/hicolor/scalable/apps/$APP_ID.svg")
    for size in $SIZES; do
        want+=("usr/share/icons/hicolor/${size}x${size}/apps/$APP_ID.png")
    done
    local expected actual
    expected=$(printf '%s\n' "${want[@]}" | sort)
    actual=$(cd "$stage" && find . -type f -o -type l | sed 's|^\./||' | sort)
    if [ "$expected" != "$actual" ]; then
        fail "installed files differ from the expected list:"
        diff <(echo "$expected") <(echo "$actual") >&2
    fi

    # The programs: executables that do not look into the build tree for libraries.
    local name program
    for name in quorvane quorvane-get; do
        program=$stage/usr/bin/$name
        if [ -x "$program" ] && [ "$(head -c 4 "$program" | od -An -c | tr -d ' ')" = '177ELF' ]; then
            if readelf -d "$program" | grep -E 'R(UN)?PATH' | grep -q "$build"; then
                fail "the installed $name keeps the build folder in its library path"
            fi
        else
            fail "usr/bin/$name is not an executable ELF file"
        fi
    done
    # The console program runs without a display: no GUI library of wxWidgets or GTK.
    if [ -x "$stage/usr/bin/quorvane-get" ] &&
        readelf -d "$stage/usr/bin/quorvane-get" | grep NEEDED | grep -Eq 'wx_gtk|gtk|libX11'; then
        fail "usr/bin/quorvane-get needs a GUI library"
    fi

    # The manual page renders without a warning and names the program's options.
    local page=$stage/usr/share/man/man1/quorvane-get.1
    if [ -f "$page" ] && command -v man >/dev/null; then
        local warnings
        warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
        [ -z "$warnings" ] || fail "man quorvane-get warns: $warnings"
        local text
        text=$(MANWIDTH=80 man -l "$page" 2>/dev/null)
        for option in -o -j -f --quiet --json --help --version; do
            grep -q -- " $option" <<<"$text" || fail "the manual page does not describe $option"
        done
    fi

    # Icons: each PNG holds the size its folder names, and all are the window icon's image.
    for size in $SIZES; do
        local png=$stage/usr/share/icons/hicolor/${size}x${size}/apps/$APP_ID.png
        [ -f "$png" ] || continue
        local got
        got=$(png_size "$png")
        [ "$got" = "${size}x${size}" ] || fail "$png is $got, not ${size}x${size}"
        cmp -s "$png" "$source/app/icons/quorvane-$size.png" ||
            fail "$png is not app/icons/quorvane-$size.png"
    done
    local svg=$stage/usr/share/icons/hicolor/scalable/apps/$APP_ID.svg
    if [ -f "$svg" ]; then
        grep -q '<svg' "$svg" || fail "$svg is not an SVG image"
        cmp -s "$svg" "$source/app/icons/quorvane.svg" || fail "$svg is not app/icons/quorvane.svg"
    fi

    # The desktop entry starts the installed program, finds its icon and needs no terminal.
    local desktop=$stage/usr/share/applications/$APP_ID.desktop
    if [ -f "$desktop" ]; then
        local exec icon
        exec=$(desktop_key "$desktop" Exec)
        exec=${exec%% *}
        [ -x "$stage/usr/bin/$exec" ] || fail "Exec=$exec is not an installed program"
        icon=$(desktop_key "$desktop" Icon)
        [ -f "$stage/usr/share/icons/hicolor/256x256/apps/$icon.png" ] &&
            [ -f "$stage/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] ||
            fail "Icon=$icon has no installed icon"
        [ "$(desktop_key "$desktop" Terminal)" = false ] || fail "Terminal is not false"
        [ "$(desktop_key "$desktop" Type)" = Application ] || fail "Type is not Application"
        [ -n "$(desktop_key "$desktop" Categories)" ] || fail "no Categories"
        [ -n "$(desktop_key "$desktop" Keywords)" ] || fail "no Keywords"
    fi

    # The metainfo names this desktop entry and program.
    local meta=$stage/usr/share/metainfo/$APP_ID.metainfo.xml
    if [ -f "$meta" ]; then
        grep -q "<id>$APP_ID</id>" "$meta" || fail "metainfo id is not $APP_ID"
        grep -q "<launchable type=\"desktop-id\">$APP_ID.desktop</launchable>" "$meta" ||
            fail "metainfo does not launch $APP_ID.desktop"
        local binary
        binary=$(sed -n 's|.*<binary>\(.*\)</binary>.*|\1|p' "$meta")
        [ -n "$binary" ] && [ -x "$stage/usr/bin/$binary" ] ||
            fail "metainfo provides binary '$binary', which is not installed"
        local version
        version=$(sed -n 's|.*<release version="\([^"]*\)".*|\1|p' "$meta" | head -n 1)
        grep -q "project(Quorvane VERSION $version " "$source/CMakeLists.txt" ||
            fail "newest metainfo release $version is not the project's version"
    fi
}

validate_desktop() {
    command -v desktop-file-validate >/dev/null || { echo "desktop-file-validate missing"; exit 77; }
    local desktop=$1/usr/share/applications/$APP_ID.desktop
    [ -f "$desktop" ] || { fail "no $desktop"; return; }
    local out
    out=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate: $out"
    # Hints pass the validator but point at real trouble (a menu entry shown twice).
    [ -z "$out" ] || fail "desktop-file-validate said: $out"
}

validate_appstream() {
    command -v appstreamcli >/dev/null || { echo "appstreamcli missing"; exit 77; }
    local meta=$1/usr/share/metainfo/$APP_ID.metainfo.xml
    [ -f "$meta" ] || { fail "no $meta"; return; }
    appstreamcli validate --no-net "$meta" || fail "appstreamcli validate"
    # The tree check also finds the desktop entry the metainfo launches.
    appstreamcli validate-tree --no-net "$1" || fail "appstreamcli validate-tree"
}

case "${1:-}" in
install) check_install "$2" "$3" "$4" ;;
desktop) validate_desktop "$2" ;;
appstream) validate_appstream "$2" ;;
*)
    echo "usage: $0 install BUILD SOURCE STAGE | desktop STAGE | appstream STAGE" >&2
    exit 2
    ;;
esac
if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "ok"
