#!/usr/bin/env bash
# Runs a command on a virtual X display of its own, for tests that need a real window system
# (animations run there, unlike on the offscreen platform). The server picks a free display
# number itself, so runs in parallel never collide.
#
#     xvfbrun.sh <command> [arguments...]
set -euo pipefail
numberFile=$(mktemp)
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset 3>"$numberFile" 2>/dev/null &
server=$!
cleanup() {
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
status=0
DISPLAY=":$(head -n1 "$numberFile")" QT_QPA_PLATFORM=xcb "$@" || status=$?
exit "$status"
