#!/usr/bin/env bash
# Starts the program on a virtual X server through Qt's xcb platform, as a desktop would, and
# checks that it is still running a few seconds later without a platform-plugin error.
set -u
program=$1
if ! command -v Xvfb >/dev/null; then
    echo "Xvfb is missing: run scripts/setup.sh"
    exit 1
fi
home=$(mktemp -d)
cleanup() {
    [ -n "${app:-}" ] && kill "$app" 2>/dev/null && wait "$app" 2>/dev/null
    [ -n "${xserver:-}" ] && kill "$xserver" 2>/dev/null && wait "$xserver" 2>/dev/null
    rm -rf "$home"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp 3>"$home/display" 2>"$home/xvfb.log" &
xserver=$!
for _ in $(seq 100); do
    [ -s "$home/display" ] && break
    sleep 0.1
done
if [ ! -s "$home/display" ]; then
    echo "Xvfb did not start:"; cat "$home/xvfb.log"
    exit 1
fi

mkdir -m 700 "$home/runtime"
(
    unset WAYLAND_DISPLAY
    export DISPLAY=":$(cat "$home/display")" QT_QPA_PLATFORM=xcb HOME="$home" XDG_CONFIG_HOME="$home/.config" \
           XDG_DATA_HOME="$home/.local/share" XDG_CACHE_HOME="$home/.cache" XDG_RUNTIME_DIR="$home/runtime" \
           OSTRA_INPUT_BACKEND=virtual
    exec "$program"
) >"$home/program.log" 2>&1 &
app=$!
sleep 4
status=0
if ! kill -0 "$app" 2>/dev/null; then
    echo "The program ended within 4 seconds:"
    status=1
elif grep -Eiq 'platform plugin|could not connect to display|qt\.qpa\.(xcb|plugin)' "$home/program.log"; then
    echo "Platform problems on start:"
    status=1
fi
[ $status -ne 0 ] && cat "$home/program.log"
exit $status
