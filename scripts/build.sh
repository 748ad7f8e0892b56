#!/usr/bin/env bash
# Configures and builds Tavrin into build/ (or $TAVRIN_BUILD_DIR), warnings as
# errors. Extra arguments go to the CMake configure step.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${TAVRIN_BUILD_DIR:-build}
cmake -S . -B "$dir" -G Ninja -DTAVRIN_WERROR=ON "$@"
cmake --build "$dir" --parallel "$(nproc)"
