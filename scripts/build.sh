#!/usr/bin/env bash
# Configures and builds everything into build/ (set OSTRA_BUILD_DIR to use another folder;
# OSTRA_TARGETS builds only the targets named there).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${OSTRA_BUILD_DIR:-$root/build}
jobs=${OSTRA_JOBS:-$(nproc)}
# Paths relative to the checkout, so a clone in another folder hits the same compiler cache.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root}
export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
# The cache takes precompiled headers only with this sloppiness.
# Three trees share it (the build, the sanitizer build, the fuzz targets): the default 5 GB
# would keep only the last one built.
export CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-20G}
export CCACHE_SLOPPINESS=${CCACHE_SLOPPINESS:-pch_defines,time_macros,include_file_mtime,include_file_ctime}
"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -G Ninja ${OSTRA_CMAKE_ARGS:-}
cmake --build "$build" -j "$jobs" ${OSTRA_TARGETS:+--target $OSTRA_TARGETS}
