#!/bin/bash
# A newcomer's first run, end to end: the sample service, the program routed through it with
# fresh settings, every offered number typed into the real window (xdotool), and each PDF on
# disk and sound (qpdf). Needs a display (Xvfb in CI) and xdotool; exit 77 (skipped) without.
#
#   firstRun.sh PROGRAM SAMPLE_SERVICE
set -uo pipefail
PROGRAM=$1
SERVICE=$2
[ -n "${DISPLAY:-}" ] || { echo "no display"; exit 77; }
command -v xdotool >/dev/null || { echo "xdotool missing"; exit 77; }

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

"$SERVICE" --with-parent >"$WORK/service.log" 2>&1 &
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

# Fresh settings; started in an empty folder, which becomes the download folder.
mkdir -p "$WORK/config" "$WORK/pdfs"
(cd "$WORK/pdfs" && exec env XDG_CONFIG_HOME="$WORK/config" HOME="$WORK" http_proxy="$PROXY" \
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
    number=${offer%% *} pdf=$WORK/pdfs/${offer#* }
    for _ in $(seq 600); do
        [ -f "$pdf" ] && break
        kill -0 "$APP_PID" 2>/dev/null || fail "the program ended"
        sleep 0.1
    done
    [ -f "$pdf" ] || fail "typing $number gave no ${offer#* } within 60 s"
    out=$(qpdf --check "$pdf" 2>&1) || fail "qpdf --check ${offer#* }: $out"
    echo "$number -> ${offer#* }: $(qpdf --show-npages "$pdf") pages"
done
extra=$(find "$WORK/pdfs" -mindepth 1 ! -name '*.pdf' -printf '%f ')
[ -z "$extra" ] || fail "unexpected files in the download folder: $extra"

# File > Exit (Ctrl+W) closes it and stores the download folder for the next run.
xdotool key ctrl+w
for _ in $(seq 100); do kill -0 "$APP_PID" 2>/dev/null || break; sleep 0.1; done
kill -0 "$APP_PID" 2>/dev/null && fail "the program did not close on Ctrl+W"
APP_PID=
grep -qx "Path=$WORK/pdfs" "$WORK/config/Quorvane/Quorvane.conf" ||
    fail "the download folder was not stored: $(cat "$WORK/config/Quorvane/Quorvane.conf")"
echo "ok"
