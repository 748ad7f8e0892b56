#!/usr/bin/env bash
# Cross-builds the Qt-free engine and platform layer with their tests for
# Windows (MinGW-w64) and runs them under Wine in a Japanese locale, so the
# ANSI code page is 932. Installs the Debian packages it needs when missing.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${TAVRIN_WIN_BUILD:-$root/build-win}

packages=(cmake ninja-build g++-mingw-w64-x86-64-posix wine64 googletest locales)
missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
sudo=()
if [ "$(id -u)" -ne 0 ]; then
    sudo=(sudo)
fi
if [ ${#missing[@]} -ne 0 ]; then
    echo "test-windows: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    "${sudo[@]}" apt-get update -q
    "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
# Wine needs the Japanese locale to exist to take code page 932 from it.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
    echo "test-windows: generating ja_JP.UTF-8"
    "${sudo[@]}" sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | "${sudo[@]}" tee -a /etc/locale.gen >/dev/null
    "${sudo[@]}" locale-gen ja_JP.UTF-8 >/dev/null
fi

toolchain=$root/cmake/mingw-w64-x86_64.cmake
gtest_prefix=$build/googletest-install
if [ ! -f "$gtest_prefix/lib/cmake/GTest/GTestConfig.cmake" ]; then
    cmake -S /usr/src/googletest -B "$build/googletest" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$gtest_prefix" -DBUILD_GMOCK=ON -Dgtest_disable_pthreads=OFF
    cmake --build "$build/googletest"
    cmake --install "$build/googletest" >/dev/null
fi

cmake -S tests/windows -B "$build/tavrin" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DGTest_DIR="$gtest_prefix/lib/cmake/GTest"
cmake --build "$build/tavrin"

wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# The locale goes to Wine alone; this shell keeps its own.
run_wine() { env LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 "$wine" "$@"; }
run_wine wineboot --init >/dev/null 2>&1 || true

status=0
for t in windows_tests platform_tests engine_tests; do
    echo "test-windows: $t"
    run_wine "$build/tavrin/$t.exe" --gtest_brief=1 || status=1
done
wineserver_bin=$(command -v wineserver || echo /usr/lib/wine/wineserver)
"$wineserver_bin" -w || true
exit $status
