#!/usr/bin/env bash
# Builds the Debian package into build-deb/ (or $TAVRIN_DEB_BUILD), checks its
# content, its AppStream metadata and its manual page, installs it on this machine with apt-get,
# and has a user other than root (tavrin-ci, made afresh) rename and undo with
# /usr/bin/tavrin on a virtual display (tests/package/end_to_end.sh); the
# screenshots land in build-deb/package-test/. Needs root or sudo. Extra
# arguments go to CMake.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${TAVRIN_DEB_BUILD:-build-deb}
user=tavrin-ci
sudo=()
if [ "$(id -u)" -ne 0 ]; then
    sudo=(sudo)
fi
fail() {
    echo "test-package: $*" >&2
    exit 1
}

bash scripts/setup.sh appstream lintian xvfb xdotool openbox x11-utils imagemagick
TAVRIN_BUILD_DIR=$dir bash scripts/build.sh -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DBUILD_TESTING=OFF -DTAVRIN_BENCH=OFF "$@"
rm -f "$dir"/tavrin_*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
deb=$(ls "$dir"/tavrin_*-1_*.deb)
echo "test-package: $deb, $(stat -c %s "$deb") bytes"

# What it holds: below /usr only, nothing there the user must write.
content=$(dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|')
for path in /usr/bin/tavrin /usr/share/applications/tavrin.desktop \
    /usr/share/metainfo/io.github.tavrin.tavrin.metainfo.xml \
    /usr/share/icons/hicolor/scalable/apps/tavrin.svg /usr/share/doc/tavrin/LICENSE \
    /usr/share/doc/tavrin/copyright /usr/share/man/man1/tavrin.1.gz; do
    grep -qx "$path" <<<"$content" || fail "$path is missing"
done
grep -qE '^/usr/lib/(.*/)?tavrin/tavrin$' <<<"$content" || fail "the program is missing"
! grep -v '^/usr/' <<<"$content" | grep -q . || fail "files outside /usr"
depends=$(dpkg-deb -f "$deb" Depends)
for package in libqt6widgets6 qt6-qpa-plugins qt6-translations-l10n fonts-ipafont-gothic; do
    grep -qw "$package" <<<"$depends" || fail "no dependency on $package: $depends"
done
icons=$dir/packaging/icons/hicolor
for size in 16 32 48 64 128 256; do
    [ "$(identify -format %wx%h "$icons/${size}x$size/apps/tavrin.png")" = "${size}x$size" ] ||
        fail "the ${size}px icon has another size"
    grep -qx "/usr/share/icons/hicolor/${size}x$size/apps/tavrin.png" <<<"$content" ||
        fail "the ${size}px icon is missing"
done
appstreamcli validate --no-net "$dir"/packaging/*.metainfo.xml
# The manual page as Debian checks it: there, well named and placed, and read by man without a complaint.
manual_tags=$(lintian-explain-tags --list-tags | grep -E 'manual|manpage|groff|whatis' | paste -sd,)
manual=$(lintian --tags "$manual_tags" "$deb" 2>/dev/null)
[ -z "$manual" ] || fail "lintian: $manual"

"${sudo[@]}" apt-get install -y -q --reinstall "./$deb" >/dev/null

# A user of its own, as a fresh one meets the program.
if id "$user" >/dev/null 2>&1; then
    "${sudo[@]}" userdel -r "$user" 2>/dev/null || true
fi
"${sudo[@]}" useradd -m -s /bin/bash "$user"
# The user may not read the clone (under /root on CI): the test runs from a
# folder of its own, and its screenshots are copied back.
out=$dir/package-test
rm -rf "$out"
mkdir -p "$out"
own=$(mktemp -d)
cp tests/package/end_to_end.sh tests/x11_windows.sh "$own/"
chmod 755 "$own"
"${sudo[@]}" chown "$user" "$own"

pids=()
stop() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    cp "$own"/*.png "$out/" 2>/dev/null || true
    "${sudo[@]}" rm -rf "$own"
}
trap stop EXIT
source scripts/x-display.sh
start_display
sleep 1
"${sudo[@]}" runuser -u "$user" -- env -i HOME="/home/$user" PATH=/usr/bin:/bin DISPLAY="$display" \
    LANG=C.UTF-8 bash -c 'cd && exec bash "$0" "${0%/*}"' "$own/end_to_end.sh"
echo "test-package: screenshots in $out"
