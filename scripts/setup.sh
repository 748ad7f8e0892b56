#!/usr/bin/env bash
# Installs the Debian packages Tavrin builds, tests and runs with, and any
# packages named as arguments; only the missing ones, through apt-get, with sudo
# only when not root.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev libglx-dev libopengl-dev libvulkan-dev
    libgtest-dev libgmock-dev
    libglib2.0-dev qt6-translations-l10n
    fonts-ipafont-gothic fontconfig
    dpkg-dev file
    e2fsprogs mount # the platform tests make ext2 and ext4 file systems to mount
    "$@"
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

sudo=()
if [ "$(id -u)" -ne 0 ]; then
    sudo=(sudo)
fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# Another apt-get or an automatic update may hold the package locks: wait up to
# five minutes for them (apt-get update does not wait by itself).
for ((waited = 0; ; waited += 5)); do
    if out=$("${sudo[@]}" apt-get update -q 2>&1); then
        break
    elif [[ $out != *"Could not get lock"* ]] || ((waited >= 300)); then
        echo "$out" >&2
        exit 1
    fi
    ((waited > 0)) || echo "setup: waiting for another package manager to let go of its lock" >&2
    sleep 5
done
"${sudo[@]}" apt-get -o DPkg::Lock::Timeout=300 install -y -q --no-install-recommends "${missing[@]}"
