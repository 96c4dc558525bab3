#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer
# into build-fuzz/ and runs them side by side (one process each) for a while, printing executions
# per second, total executions, coverage and any crash, time-out or memory blow-up (minimised into
# build-fuzz/findings/).
#   scripts/fuzz.sh [seconds per target (60)] [target ...]
#   OSTRA_FUZZ_RUNS=10000000 scripts/fuzz.sh 3600     stops a target early after that many inputs
#   scripts/fuzz.sh --seeds      writes the seed corpora and the API dictionary again
#   OSTRA_CMAKE_ARGS=-DOSTRA_DEBUG_INFO=OFF scripts/fuzz.sh 5     as CI runs it (.ci/run)
# New inputs the fuzzer finds go into build-fuzz/corpus/<target>, not the committed corpus: a
# minimised finding joins fuzz/corpus/<target>/ together with its fix.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${OSTRA_FUZZ_BUILD_DIR:-$root/build-fuzz}
jobs=${OSTRA_JOBS:-$(nproc)}
all_targets=(crsf_stream transmitter_stream receiver_lines profile_documents websocket_api ws_frames ini_format)

if [ "${1:-}" = "--seeds" ]; then
    "$root/scripts/build.sh"
    "${OSTRA_BUILD_DIR:-$root/build}/fuzz/fuzz_seeds" "$root/fuzz"
    exit 0
fi
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all_targets[@]}")

OSTRA_FUZZ=1 "$root/scripts/setup.sh"
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root}
export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
export CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-20G}
CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$build" -G Ninja -DOSTRA_FUZZ=ON -DOSTRA_BUILD_BENCH=OFF ${OSTRA_CMAKE_ARGS:-}
cmake --build "$build" -j "$jobs" --target "${targets[@]/#/fuzz_}"

# Leaks are not findings here: objects Qt frees at exit show up as lost when libFuzzer stops.
# Allocation stacks are not recorded while fuzzing (a third of the time of an input that
# allocates); a finding is run once more with them for its report.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=1:malloc_context_size=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export QT_QPA_PLATFORM=offscreen TZ=UTC OSTRA_INPUT_BACKEND=virtual OSTRA_MDNS_INTERFACES=lo

# The longest input each target gets: a dozen frames or lines, a few API messages' worth of
# text, a whole profile folder. Longer inputs only repeat what these reach, at their length's cost.
max_len() {
    case $1 in
        crsf_stream | receiver_lines | transmitter_stream | ws_frames) echo 1024 ;;
        websocket_api | ini_format) echo 2048 ;;
        profile_documents) echo 16384 ;;
    esac
}

run_target() {
    local target=$1
    local work="$build/corpus/$target" findings="$build/findings/$target" log="$build/logs/$target.log"
    mkdir -p "$work" "$findings" "$(dirname "$log")"
    "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -runs="${OSTRA_FUZZ_RUNS:--1}" -max_len="$(max_len "$target")" \
        -timeout=10 -rss_limit_mb=2048 -detect_leaks=0 -print_final_stats=1 \
        -dict="$root/fuzz/dict/$target.dict" -artifact_prefix="$findings/" \
        "$work" "$root/fuzz/corpus/$target" >"$log" 2>&1 || true
}

for target in "${targets[@]}"; do
    echo "== $target: ${seconds} s"
    run_target "$target" &
done
wait

status=0
for target in "${targets[@]}"; do
    binary="$build/fuzz/fuzz_$target"
    findings="$build/findings/$target"
    log="$build/logs/$target.log"
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    cov=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -1 || true)
    echo "$target: executions: ${execs:-?}  per second: ${rate:-?}  coverage: ${cov:-?}"
    # A target that stopped before fuzzing (in its set-up) leaves no statistics and no finding.
    if [ -z "$execs" ]; then
        status=1
        echo "   DID NOT RUN (log: $log)"
        tail -5 "$log" | sed 's/^/     /'
    fi
    shopt -s nullglob
    found=("$findings"/crash-* "$findings"/timeout-* "$findings"/oom-* "$findings"/leak-*)
    shopt -u nullglob
    for input in "${found[@]}"; do
        case $input in *.min | *.log) continue ;; esac
        status=1
        echo "   FOUND $(basename "$input") (log: $log)"
        ASAN_OPTIONS=detect_leaks=0 "$binary" "$input" >"$input.report.log" 2>&1 || true
        grep -m3 -E 'ERROR: |runtime error|SUMMARY' "$input.report.log" | sed 's/^/     /' || true
        case $(basename "$input") in
            crash-*)
                "$binary" -minimize_crash=1 -max_total_time=30 -exact_artifact_path="$input.min" "$input" \
                    >"$input.minimise.log" 2>&1 || true
                [ -f "$input.min" ] && echo "   minimised: $input.min ($(stat -c %s "$input.min") bytes)" ;;
        esac
    done
done
exit $status
