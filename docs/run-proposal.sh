#!/bin/bash
# Builds the program and the sample service, starts the sample service in the background and
# the program routed through it (http_proxy), and prints which numbers to try. The service
# stops when the program exits.
#
# The remote services Quorvane was written for have been retired by their operators. To start
# the program against the real hosts anyway (no sample service):
#     QV_REAL_HOSTS=1 ./scripts/run        or        ./scripts/run --real-hosts
#
# PDFs go into the download folder stored in the settings; on a first run, into
# QV_DOWNLOADS (default: your Downloads folder's Quorvane subfolder), created if needed.
set -euo pipefail
cd "$(dirname "$0")/.."
REPO=$PWD
REAL=${QV_REAL_HOSTS:-0}
args=()
for a in "$@"; do
    if [ "$a" = "--real-hosts" ]; then REAL=1; else args+=("$a"); fi
done
JOBS=$(nproc 2>/dev/null || echo 2)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
if [ "$REAL" = 1 ]; then
    cmake --build build -j "$JOBS" --target quorvane
else
    cmake --build build -j "$JOBS" --target quorvane quorvane-sample-service
fi

# Where the PDFs go: the stored download folder, else the first-run folder.
CONF=${XDG_CONFIG_HOME:-$HOME/.config}/Quorvane/Quorvane.conf
STORED=$(sed -n 's/^Path=//p' "$CONF" 2>/dev/null | head -n 1 || true)
if [ -n "$STORED" ] && [ -d "$STORED" ]; then
    DOWNLOADS=$STORED
else
    if [ -z "${QV_DOWNLOADS:-}" ]; then
        base=$(xdg-user-dir DOWNLOAD 2>/dev/null || true)
        if [ -z "$base" ] || [ "$base" = "$HOME" ]; then base=$HOME/Downloads; fi
        QV_DOWNLOADS=$base/Quorvane
    fi
    mkdir -p "$QV_DOWNLOADS"
    DOWNLOADS=$QV_DOWNLOADS
fi

if [ "$REAL" = 1 ]; then
    echo "Starting Quorvane against the real hosts (their services have been retired)."
    echo "PDFs go to: $DOWNLOADS"
    cd "$DOWNLOADS"
    exec "$REPO/build/app/quorvane" "${args[@]}"
fi

LOG=$(mktemp)
# --with-parent: the service ends with this script, even when the script is killed.
"$REPO/build/samples/quorvane-sample-service" --with-parent >"$LOG" 2>&1 &
SERVICE=$!
trap 'kill "$SERVICE" 2>/dev/null; wait "$SERVICE" 2>/dev/null; rm -f "$LOG"' EXIT
trap 'exit 130' INT TERM HUP
PROXY=
for _ in $(seq 300); do
    PROXY=$(head -n 1 "$LOG" | grep -o 'http://127\.0\.0\.1:[0-9]*' || true)
    [ -n "$PROXY" ] && break
    kill -0 "$SERVICE" 2>/dev/null || break
    sleep 0.1
done
if [ -z "$PROXY" ]; then
    cat "$LOG" >&2
    echo "run: the sample service did not start" >&2
    exit 1
fi

echo "Sample service running at $PROXY (it stops when Quorvane closes)."
sed -n '/^Numbers to try:/,/^Other numbers/p' "$LOG"
echo "PDFs go to: $DOWNLOADS"
if grep -q '^connectionType=2' "$CONF" 2>/dev/null; then
    echo "Note: File > Setup > Network is set to HTTP PROXY, which ignores the sample service."
    echo "      Choose AUTO there (or start once with XDG_CONFIG_HOME pointing at a new folder)."
fi
cd "$DOWNLOADS"
http_proxy=$PROXY no_proxy= NO_PROXY= "$REPO/build/app/quorvane" "${args[@]}"
