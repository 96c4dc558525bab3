#!/usr/bin/env bash
# Configures and builds everything into build/ (set OSTRA_BUILD_DIR to use another folder).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${OSTRA_BUILD_DIR:-$root/build}
jobs=${OSTRA_JOBS:-$(nproc)}
"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -G Ninja ${OSTRA_CMAKE_ARGS:-}
cmake --build "$build" -j "$jobs"
