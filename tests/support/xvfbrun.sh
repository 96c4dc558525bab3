#!/usr/bin/env bash
# Runs a command on a virtual X display of its own, for tests that need a real window system
# (animations run there, unlike on the offscreen platform). The server picks a free display
# number itself, so runs in parallel never collide.
#
#     xvfbrun.sh [--screen WIDTHxHEIGHT] [--wm openbox] <command> [arguments...]
#
# --screen sizes the display (1920x1080 unless given); --wm starts that window manager on it
# and waits until it manages the screen.
set -euo pipefail
screen=1920x1080
wm=""
while [ $# -gt 0 ]; do
    case "$1" in
        --screen) screen="$2"; shift 2 ;;
        --wm) wm="$2"; shift 2 ;;
        *) break ;;
    esac
done
numberFile=$(mktemp)
Xvfb -displayfd 3 -screen 0 "${screen}x24" -nolisten tcp -noreset 3>"$numberFile" 2>/dev/null &
server=$!
manager=""
cleanup() {
    if [ -n "$manager" ]; then
        kill "$manager" 2>/dev/null || true
        wait "$manager" 2>/dev/null || true
    fi
    kill "$server" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
    rm -f "$numberFile"
}
trap cleanup EXIT
for _ in $(seq 100); do
    [ -s "$numberFile" ] && break
    kill -0 "$server" 2>/dev/null || { echo "xvfbrun: Xvfb did not start" >&2; exit 1; }
    sleep 0.05
done
[ -s "$numberFile" ] || { echo "xvfbrun: Xvfb gave no display number" >&2; exit 1; }
display=":$(head -n1 "$numberFile")"
if [ -n "$wm" ]; then
    DISPLAY="$display" "$wm" >/dev/null 2>&1 &
    manager=$!
    # A window manager announces itself on the root window once it runs.
    for _ in $(seq 100); do
        DISPLAY="$display" xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
        kill -0 "$manager" 2>/dev/null || { echo "xvfbrun: $wm did not start" >&2; exit 1; }
        sleep 0.05
    done
    DISPLAY="$display" xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' \
        || { echo "xvfbrun: $wm did not take the screen" >&2; exit 1; }
fi
status=0
DISPLAY="$display" QT_QPA_PLATFORM=xcb "$@" || status=$?
exit "$status"
