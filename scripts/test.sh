#!/usr/bin/env bash
# Builds everything and runs the whole test suite; exits non-zero on any failure.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${OSTRA_BUILD_DIR:-$root/build}
"$root/scripts/build.sh"
cd "$build"
ctest --output-on-failure -j "${OSTRA_JOBS:-$(nproc)}" "$@"
