#!/usr/bin/env bash
# Builds everything and starts the program.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${OSTRA_BUILD_DIR:-$root/build}
"$root/scripts/build.sh"
if [ -x "$build/app/qorostra" ]; then
    exec "$build/app/qorostra" "$@"
fi
echo "The program's window is not built yet. Built libraries:"
find "$build" -name 'libostra_*.a' -printf '  %f\n' | sort
echo "Built tests and benchmarks:"
find "$build" -maxdepth 3 -type f -executable \( -name 'tst_*' -o -name 'bench_*' \) -printf '  %f\n' | sort
