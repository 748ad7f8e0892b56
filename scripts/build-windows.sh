#!/usr/bin/env bash
# Cross-builds tavrin.exe for 64-bit Windows with MinGW-w64 against the static Qt
# in $TAVRIN_QT_MINGW (default: ../shared/qt6-mingw, beside the repository), and
# packs it with readme.txt into Tavrin-<version>-win64.zip. Installs the Debian
# packages it needs when missing; prints the paths of the executable and the zip.
#   --tests   also cross-builds GoogleTest and every test suite (for test-windows.sh)
# The build goes to build-win/ ($TAVRIN_WIN_BUILD); extra arguments go to CMake.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${TAVRIN_WIN_BUILD:-$root/build-win}
qt=${TAVRIN_QT_MINGW:-../shared/qt6-mingw}

tests=OFF
if [ "${1:-}" = "--tests" ]; then
    tests=ON
    shift
fi

if [ ! -f "$qt/lib/cmake/Qt6/Qt6Config.cmake" ]; then
    echo "build-windows: no Qt for MinGW-w64 in $qt (set TAVRIN_QT_MINGW)" >&2
    exit 1
fi
qt=$(cd "$qt" && pwd)

# The host's Qt supplies moc, rcc and uic; Qt for Windows links into the program.
extra=(g++-mingw-w64-x86-64-posix)
if [ $tests = ON ]; then
    extra+=(googletest)
fi
bash scripts/setup.sh "${extra[@]}"

toolchain=$root/cmake/mingw-w64-x86_64.cmake
args=()
if [ $tests = ON ]; then
    gtest_prefix=$build/googletest-install
    if [ ! -f "$gtest_prefix/lib/cmake/GTest/GTestConfig.cmake" ]; then
        cmake -S /usr/src/googletest -B "$build/googletest" -G Ninja \
            -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_INSTALL_PREFIX="$gtest_prefix" -DBUILD_GMOCK=ON -Dgtest_disable_pthreads=OFF \
            >/dev/null
        cmake --build "$build/googletest"
        cmake --install "$build/googletest" >/dev/null
    fi
    args+=(-DGTest_DIR="$gtest_prefix/lib/cmake/GTest")
fi

cmake -S . -B "$build/tavrin" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_PREFIX_PATH="$qt" -DQT_HOST_PATH=/usr \
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake -DTAVRIN_WERROR=ON \
    -DTAVRIN_BENCH=OFF -DBUILD_TESTING=$tests "${args[@]}" "$@"
cmake --build "$build/tavrin" --parallel "$(nproc)"

echo "build-windows: $build/tavrin/bin/tavrin.exe"
ls "$build"/tavrin/Tavrin-*-win64.zip | sed 's/^/build-windows: /'
