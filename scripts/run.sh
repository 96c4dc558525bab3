#!/usr/bin/env bash
# Builds everything and starts the program.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${OSTRA_BUILD_DIR:-$root/build}
"$root/scripts/build.sh"
exec "$build/app/qorostra" "$@"
