#!/usr/bin/env bash
# Cross-builds Tavrin and its tests for Windows (scripts/build-windows.sh --tests)
# and runs every suite under Wine in a Japanese locale, so that the ANSI code page
# is 932: the engine, platform and Windows suites, the window suites, and the
# end-to-end test that drives tavrin.exe as a user would. The windows appear on a
# virtual X display of their own, with a window manager. Installs the Debian
# packages it needs when missing.
# TAVRIN_WIN_DISPLAY names the X display to start (default: the first free one).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${TAVRIN_WIN_BUILD:-$root/build-win}

bash scripts/setup.sh wine64 xvfb xdotool openbox x11-utils imagemagick locales
# Wine takes code page 932 from the Japanese locale, which must exist.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
    echo "test-windows: generating ja_JP.UTF-8"
    sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        sudo=(sudo)
    fi
    "${sudo[@]}" sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen ||
        echo 'ja_JP.UTF-8 UTF-8' | "${sudo[@]}" tee -a /etc/locale.gen >/dev/null
    "${sudo[@]}" locale-gen ja_JP.UTF-8 >/dev/null
fi

bash scripts/build-windows.sh --tests
tavrin=$build/tavrin
export WINEPREFIX=$tavrin/wineprefix

wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
pids=()
stop() {
    "$wineserver" -k 2>/dev/null || true
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
}
trap stop EXIT

source scripts/x-display.sh
start_display "${TAVRIN_WIN_DISPLAY:-}"
export DISPLAY=$display

# The window suites run on Qt's Windows platform plugin, whatever this shell uses.
unset QT_QPA_PLATFORM
echo "test-windows: Wine prefix $WINEPREFIX, display $DISPLAY"
# One server for the whole pass: a suite that starts while the server of the
# one before is still shutting down loses its connection to it. The server
# needs the prefix folder to exist; wineboot fills it.
mkdir -p "$WINEPREFIX"
env LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 "$wineserver" -p
"$tavrin/wine-ja" wineboot --init >/dev/null 2>&1 || true
ctest --test-dir "$tavrin" --output-on-failure --timeout 900
