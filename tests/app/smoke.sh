#!/usr/bin/env bash
# Starts the program on a desktop of its own, as a user would, and checks that it is still running
# a few seconds later without a platform-plugin error:
#     smoke.sh PROGRAM xcb       on a virtual X server (Xvfb)
#     smoke.sh PROGRAM wayland   on a headless Wayland compositor (weston), without XWayland
# and that a second start on the same home tells the user the program runs and touches no file.
set -u
program=$1
platform=${2:-xcb}
home=$(mktemp -d)
mkdir -m 700 "$home/runtime"
cleanup() {
    [ -n "${second:-}" ] && kill "$second" 2>/dev/null && wait "$second" 2>/dev/null
    [ -n "${app:-}" ] && kill "$app" 2>/dev/null && wait "$app" 2>/dev/null
    [ -n "${desktop:-}" ] && kill "$desktop" 2>/dev/null && wait "$desktop" 2>/dev/null
    rm -rf "$home"
}
trap cleanup EXIT

case $platform in
xcb)
    command -v Xvfb >/dev/null || { echo "Xvfb is missing: run scripts/setup.sh"; exit 1; }
    Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp 3>"$home/display" 2>"$home/desktop.log" &
    desktop=$!
    ready() { [ -s "$home/display" ]; }
    ;;
wayland)
    command -v weston >/dev/null || { echo "weston is missing: run scripts/setup.sh"; exit 1; }
    XDG_RUNTIME_DIR="$home/runtime" weston --backend=headless-backend.so --socket=ostra-smoke --idle-time=0 \
        >"$home/desktop.log" 2>&1 &
    desktop=$!
    ready() { [ -S "$home/runtime/ostra-smoke" ]; }
    ;;
*)
    echo "usage: smoke.sh PROGRAM [xcb|wayland]"
    exit 2
    ;;
esac
for _ in $(seq 100); do
    ready && break
    sleep 0.1
done
if ! ready; then
    echo "The $platform desktop did not start:"; cat "$home/desktop.log"
    exit 1
fi

start_program() {
    (
        unset DISPLAY WAYLAND_DISPLAY
        if [ "$platform" = xcb ]; then
            export DISPLAY=":$(cat "$home/display")"
        else
            export WAYLAND_DISPLAY=ostra-smoke
        fi
        export QT_QPA_PLATFORM=$platform HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" \
               XDG_CACHE_HOME="$home/.cache" XDG_RUNTIME_DIR="$home/runtime" OSTRA_INPUT_BACKEND=virtual
        exec "$program"
    ) >"$1" 2>&1 &
}
start_program "$home/program.log"
app=$!
sleep 4
status=0
if ! kill -0 "$app" 2>/dev/null; then
    echo "The program ended within 4 seconds on $platform:"
    status=1
elif grep -Eiq 'platform plugin|could not connect to display|failed to create wl_display|qt\.qpa\.(xcb|wayland|plugin)' \
        "$home/program.log"; then
    echo "Platform problems on start with $platform:"
    status=1
fi
[ $status -ne 0 ] && cat "$home/program.log" && exit $status

# A second start on the same home says that the program runs (its box waits for the user) and
# touches none of the program's files.
files() { find "$home/.config" "$home/.local" -printf '%p %s %T@\n' 2>/dev/null | sort; }
before=$(files)
start_program "$home/second.log"
second=$!
for _ in $(seq 100); do
    grep -q 'already running' "$home/second.log" && break
    sleep 0.1
done
if ! grep -q 'already running' "$home/second.log"; then
    echo "A second start on $platform did not say that the program runs:"
    cat "$home/second.log"
    status=1
elif [ "$(files)" != "$before" ]; then
    echo "A second start on $platform changed files:"
    diff <(echo "$before") <(files)
    status=1
fi
exit $status
