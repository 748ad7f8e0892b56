#!/usr/bin/env bash
# Installs what is missing, builds Tavrin and runs every test.
# The benchmarks are built too, so that they keep building.
# --sanitize builds into build-asan/ with AddressSanitizer and UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
args=(-DBUILD_TESTING=ON -DTAVRIN_BENCH=ON)
if [ "${1:-}" = "--sanitize" ]; then
    export TAVRIN_BUILD_DIR=${TAVRIN_BUILD_DIR:-build-asan}
    args=(-DBUILD_TESTING=ON -DTAVRIN_SANITIZE=ON -DTAVRIN_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug)
    export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
    export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
fi
dir=${TAVRIN_BUILD_DIR:-build}
bash scripts/build.sh "${args[@]}"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$dir" --output-on-failure --timeout 600 -j "$(nproc)"
