#!/usr/bin/env bash
# Installs what is missing, builds the program alone (no tests, no benchmarks)
# and starts it.
#   --no-build   starts what the build folder holds, without set-up or build
# The build goes to build/ ($TAVRIN_BUILD_DIR); the program's path comes from
# the build's tavrin.path, which CMake writes.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${TAVRIN_BUILD_DIR:-build}

build=yes
if [ "${1:-}" = --no-build ]; then
    build=no
    shift
fi

if [ $build = yes ]; then
    bash scripts/setup.sh
    args=()
    if [ ! -f "$dir/CMakeCache.txt" ]; then
        # A build folder of its own is the program's alone; one that test.sh
        # made keeps its tests, and only the program is built here.
        args=(-DBUILD_TESTING=OFF -DTAVRIN_BENCH=OFF)
    fi
    cmake -S . -B "$dir" -G Ninja -DTAVRIN_WERROR=ON "${args[@]}" >/dev/null
    cmake --build "$dir" --parallel "$(nproc)" --target tavrin tavrin_readme
fi

program=$(cat "$dir/tavrin.path" 2>/dev/null || true)
if [ ! -x "$program" ]; then
    echo "start: no program at '${program:-$dir/tavrin.path}': build it first" >&2
    exit 1
fi
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-}" ]; then
    echo "start: no display for Tavrin's window (DISPLAY and WAYLAND_DISPLAY are unset): $program not started" >&2
    exit 1
fi
exec "$program" "$@"
