#!/bin/bash
# A newcomer's first run, end to end: the sample service, the program routed through it with
# fresh settings, every offered number typed into the real window (xdotool), and each PDF on
# disk and sound (qpdf); then again with the sample EPO key as scripts/run gives it, every
# EPO number through the EPO service, each PDF with bookmarks. Needs a display (Xvfb in CI) and xdotool; exit 77 (skipped) without.
#
#   firstRun.sh PROGRAM SAMPLE_SERVICE
set -uo pipefail
PROGRAM=$1
SERVICE=$2
[ -n "${DISPLAY:-}" ] || { echo "no display"; exit 77; }
command -v xdotool >/dev/null || { echo "xdotool missing"; exit 77; }
command -v jq >/dev/null || { echo "jq missing"; exit 77; }

WORK=$(mktemp -d)
SERVICE_PID='' APP_PID=''
cleanup() {
    for pid in $APP_PID $SERVICE_PID; do
        kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    done
    rm -rf "$WORK"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    [ -f "$WORK/program.log" ] && sed 's/^/program: /' "$WORK/program.log" >&2
    exit 1
}

# Without the USPTO service's print pacing: the pacer has its own tests, and here it would
# only add a minute.
"$SERVICE" --with-parent --no-rate-limits >"$WORK/service.log" 2>&1 &
SERVICE_PID=$!
PROXY=
for _ in $(seq 300); do
    PROXY=$(head -n 1 "$WORK/service.log" | grep -o 'http://127\.0\.0\.1:[0-9]*')
    [ -n "$PROXY" ] && grep -q 'Ctrl+C' "$WORK/service.log" && break
    sleep 0.1
done
[ -n "$PROXY" ] || fail "the sample service did not start: $(cat "$WORK/service.log")"
# The numbers as the service prints them: "  NUMBER  what, N pages -> FILE.pdf".
mapfile -t OFFERS < <(sed -n 's/^  \([^ ]*\) .* -> \(.*\.pdf\)$/\1 \2/p' "$WORK/service.log")
[ "${#OFFERS[@]}" -ge 6 ] || fail "the service offers ${#OFFERS[@]} numbers"

# Types every offer ("NUMBER FILE.pdf") into a fresh program started in $WORK/$1 with the
# env options after it (-u NAME first, then NAME=VALUE), checks each PDF, then closes the program with File > Exit (Ctrl+W).
round() {
    local dir=$WORK/$1
    shift
    mkdir -p "$dir/config" "$dir/pdfs"
    (cd "$dir/pdfs" && exec env "$@" XDG_CONFIG_HOME="$dir/config" HOME="$WORK" http_proxy="$PROXY" \
        no_proxy= NO_PROXY= "$PROGRAM" >"$WORK/program.log" 2>&1) &
    APP_PID=$!
    WINDOW=$(timeout 30 xdotool search --sync --onlyvisible --pid "$APP_PID" --name '^Quorvane$' |
        head -n 1)
    [ -n "$WINDOW" ] || fail "no Quorvane window"
    xdotool windowfocus --sync "$WINDOW" || fail "cannot focus the window"

    for offer in "${OFFERS[@]}"; do
        xdotool type --delay 5 "${offer%% *}"
        xdotool key Return
    done
    for offer in "${OFFERS[@]}"; do
        number=${offer%% *} pdf=$dir/pdfs/${offer#* }
        for _ in $(seq 600); do
            [ -f "$pdf" ] && break
            kill -0 "$APP_PID" 2>/dev/null || fail "the program ended"
            sleep 0.1
        done
        [ -f "$pdf" ] || fail "typing $number gave no ${offer#* } within 60 s"
        out=$(qpdf --check "$pdf" 2>&1) || fail "qpdf --check ${offer#* }: $out"
        echo "$number -> ${offer#* }: $(qpdf --show-npages "$pdf") pages"
    done
    extra=$(find "$dir/pdfs" -mindepth 1 ! -name '*.pdf' -printf '%f ')
    [ -z "$extra" ] || fail "unexpected files in the download folder: $extra"

    # File > Exit (Ctrl+W) closes it and stores the download folder for the next run.
    xdotool key ctrl+w
    for _ in $(seq 100); do kill -0 "$APP_PID" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$APP_PID" 2>/dev/null && fail "the program did not close on Ctrl+W"
    APP_PID=
    grep -qx "Path=$dir/pdfs" "$dir/config/Quorvane/Quorvane.conf" ||
        fail "the download folder was not stored: $(cat "$dir/config/Quorvane/Quorvane.conf")"
}

# Without a key: US numbers through the USPTO service, the others through the old services, as
# the sample service fakes them. The environment may hold a key of the machine's user; it must
# not take part here.
USPTO_CA=$(sed -n 's/^USPTO CA: CURL_CA_BUNDLE=//p' "$WORK/service.log")
[ -f "$USPTO_CA" ] || fail "no USPTO CA file: $(cat "$WORK/service.log")"
round nokey -u QUORVANE_OPS_KEY -u QUORVANE_OPS_SECRET -u QUORVANE_US_SOURCE \
    https_proxy="$PROXY" CURL_CA_BUNDLE="$USPTO_CA"

# With the sample key, and US documents from the EPO as Setup can choose: every number goes
# to the EPO service.
KEYS=$(sed -n 's/^EPO key: //p' "$WORK/service.log")
CA=$(sed -n 's/^EPO CA: CURL_CA_BUNDLE=//p' "$WORK/service.log")
[[ $KEYS =~ ^QUORVANE_OPS_KEY=[^\ ]+\ QUORVANE_OPS_SECRET=[^\ ]+$ ]] ||
    fail "no EPO key line: $(cat "$WORK/service.log")"
[ -f "$CA" ] || fail "no EPO CA file: $(cat "$WORK/service.log")"
# The EPO numbers: "  NUMBER  what, N pages, bookmarks => FILE.pdf".
mapfile -t OFFERS < <(sed -n 's/^  \([^ ]*\) .*, bookmarks => \(.*\.pdf\)$/\1 \2/p' \
    "$WORK/service.log")
[ "${#OFFERS[@]}" -ge 3 ] || fail "the service offers ${#OFFERS[@]} EPO numbers"
for want in 'EP[0-9]' 'WO[0-9]' '[0-9],'; do
    printf '%s\n' "${OFFERS[@]}" | grep -q "^$want" || fail "no EPO number like $want offered"
done
printf '%s\n' "${OFFERS[@]}" | grep -q '/' && fail "a serial offered through the EPO service"
read -r -a keyenv <<<"$KEYS"
round epo https_proxy="$PROXY" CURL_CA_BUNDLE="$CA" QUORVANE_US_SOURCE=epo "${keyenv[@]}"

# Bookmarks: the outline of every EPO PDF starts with the first page's sections, and one
# with a figure page has a Drawings entry.
for offer in "${OFFERS[@]}"; do
    pdf=$WORK/epo/pdfs/${offer#* }
    titles=$(qpdf --json --json-key=outlines "$pdf" | jq -r '[.outlines[].title] | join(",")') ||
        fail "qpdf --json ${offer#* }"
    [[ $titles == Bibliography,Abstract* ]] || fail "${offer#* } outline: '$titles'"
    echo "${offer#* } bookmarks: $titles"
done
titles=$(qpdf --json --json-key=outlines "$WORK/epo/pdfs/EP1000000.pdf" |
    jq -r '.outlines[] | "\(.title) \(.destpageposfrom1)"' | paste -sd,)
[ "$titles" = "Bibliography 1,Abstract 1,Description 1,Drawings 2,Claims 3" ] ||
    fail "EP1000000.pdf outline: '$titles'"
echo "ok"
