#!/usr/bin/env bash
# The program's CPU time at rest: it starts on the start page of a virtual X screen of its own,
# under openbox, settles, and then its user + system time over a span is read from /proc and
# printed per second of wall time.
#
#     restcpu.sh [--maximised] [--screen WxH] [--settle S] [--seconds S] [--runs N] [PROGRAM]
#
# PROGRAM defaults to build/app/qorostra. The window opens at its own size (1440 x 900 on the
# default 2560 x 1440 screen); --maximised has openbox maximise it. Each run prints one line;
# with several runs the median follows. As root the program runs in a network namespace of its
# own, so its API port and mDNS announcements stay off the machine's network.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
screen=2560x1440
maximised=no
settle=5
seconds=20
runs=1
while [ $# -gt 0 ]; do
    case "$1" in
        --maximised) maximised=yes; shift ;;
        --screen) screen="$2"; shift 2 ;;
        --settle) settle="$2"; shift 2 ;;
        --seconds) seconds="$2"; shift 2 ;;
        --runs) runs="$2"; shift 2 ;;
        -h|--help) sed -n '2,11p' "$0"; exit 0 ;;
        *) break ;;
    esac
done
program=$(realpath "${1:-$root/build/app/qorostra}")
[ -x "$program" ] || { echo "restcpu: no program at $program" >&2; exit 1; }

if [ "$(id -u)" = 0 ] && [ -z "${RESTCPU_NETNS:-}" ]; then
    exec env RESTCPU_NETNS=1 unshare -n "$0" --screen "$screen" --settle "$settle" --seconds "$seconds" \
        --runs "$runs" $([ "$maximised" = yes ] && echo --maximised) "$program"
fi
[ -n "${RESTCPU_NETNS:-}" ] && ip link set lo up

ticks=$(getconf CLK_TCK)
# utime + stime of a process, in clock ticks (fields 14 and 15 after the parenthesised name).
cputicks() { sed 's/.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }'; }

# One run in a subshell of its own, which ends its X server, window manager and program on exit.
measure() (
    home=$(mktemp -d)
    app="" manager="" server=""
    trap 'kill $app $manager $server 2>/dev/null; wait 2>/dev/null; rm -rf "$home"' EXIT
    mkdir -m 700 "$home/runtime"
    printf '%s\n' '<?xml version="1.0" encoding="UTF-8"?>' \
        '<openbox_config xmlns="http://openbox.org/3.4/rc"><applications>' \
        "<application class=\"*\"><maximized>$maximised</maximized></application>" \
        '</applications></openbox_config>' >"$home/rc.xml"
    Xvfb -displayfd 3 -screen 0 "${screen}x24" -nolisten tcp -noreset 3>"$home/display" >/dev/null 2>&1 &
    server=$!
    for _ in $(seq 100); do [ -s "$home/display" ] && break; sleep 0.05; done
    display=":$(head -n1 "$home/display")"
    DISPLAY="$display" openbox --config-file "$home/rc.xml" >/dev/null 2>&1 &
    manager=$!
    for _ in $(seq 100); do
        DISPLAY="$display" xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
        sleep 0.05
    done
    env -u WAYLAND_DISPLAY DISPLAY="$display" QT_QPA_PLATFORM=xcb HOME="$home" XDG_CONFIG_HOME="$home/.config" \
        XDG_DATA_HOME="$home/.local/share" XDG_CACHE_HOME="$home/.cache" XDG_RUNTIME_DIR="$home/runtime" \
        OSTRA_INPUT_BACKEND=virtual "$program" >"$home/program.log" 2>&1 &
    app=$!
    sleep "$settle"
    kill -0 "$app" 2>/dev/null || { echo "restcpu: the program ended:" >&2; cat "$home/program.log" >&2; exit 1; }
    size=$(DISPLAY="$display" xwininfo -root -tree | awk '/"Qorvant OSTRA"/ {
        split($(NF-1), g, "[x+]"); if (g[1] * g[2] > area) { area = g[1] * g[2]; size = g[1] "x" g[2] } } END { print size }')
    before=$(cputicks "$app")
    sleep "$seconds"
    after=$(cputicks "$app")
    awk -v d=$((after - before)) -v hz="$ticks" -v s="$seconds" -v size="$size" \
        'BEGIN { printf "%.0f ms/s  (window %s)\n", d * 1000 / hz / s, size }'
)

results=()
for run in $(seq "$runs"); do
    line=$(measure </dev/null)
    echo "run $run: $line  load $(cut -d' ' -f1-3 /proc/loadavg)"
    results+=("${line%% *}")
done
if [ "$runs" -gt 1 ]; then
    printf '%s\n' "${results[@]}" | sort -n | awk '{ v[NR] = $1 } END { printf "median: %s ms/s\n", v[int((NR + 1) / 2)] }'
fi
