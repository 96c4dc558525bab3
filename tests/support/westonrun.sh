#!/usr/bin/env bash
# Runs a command on a headless Wayland compositor (weston, without XWayland) of its own, for
# tests of what differs where the compositor places windows.
#
#     westonrun.sh <command> [arguments...]
set -euo pipefail
runtime=$(mktemp -d)
chmod 700 "$runtime"
socket=ostra-test-$$
XDG_RUNTIME_DIR="$runtime" weston --backend=headless-backend.so --socket="$socket" --idle-time=0 \
    >"$runtime/weston.log" 2>&1 &
compositor=$!
cleanup() {
    kill "$compositor" 2>/dev/null || true
    wait "$compositor" 2>/dev/null || true
    rm -rf "$runtime"
}
trap cleanup EXIT
for _ in $(seq 100); do
    [ -S "$runtime/$socket" ] && break
    kill -0 "$compositor" 2>/dev/null || { echo "westonrun: weston did not start" >&2; cat "$runtime/weston.log" >&2; exit 1; }
    sleep 0.05
done
[ -S "$runtime/$socket" ] || { echo "westonrun: weston gave no socket" >&2; exit 1; }
status=0
# An absolute socket path: test processes choose a runtime folder of their own.
env -u DISPLAY XDG_RUNTIME_DIR="$runtime" WAYLAND_DISPLAY="$runtime/$socket" QT_QPA_PLATFORM=wayland "$@" || status=$?
exit "$status"
