#!/usr/bin/env bash
# end_to_end.sh WINE ZIP PREFIX OUT
# tavrin.exe as a Windows user meets it: unzipped from ZIP into a folder of
# drive C: of the Wine prefix PREFIX, started under WINE (a wrapper that gives
# Wine the Japanese locale) on the X display in $DISPLAY, and driven with the
# mouse and keyboard only, at the places the twips of the windows give (15 twips
# to a pixel). It opens a folder of Japanese-named files, collects the
# extensions, chooses one, types a base name and starts the run; Old.ini and
# New.ini beside the program must then hold exactly the expected code page 932
# bytes. The undo button and "実行" must give every file its old name and content
# back. The folder lies 300 characters deep, past the 260 that Windows keeps
# plain paths to. Screenshots of the main window and of the restore dialog go to OUT.
set -euo pipefail
wine=$1 zip=$2 prefix=$3 out=$4
export WINEPREFIX=${WINEPREFIX:-$prefix}
mkdir -p "$out"

base=tavrin-e2e
work=$WINEPREFIX/drive_c/$base
# Two folders of 140 characters above it make C:\tavrin-e2e\...\写真と表 300 long.
x() { printf 'x%.0s' $(seq "$1"); }
above=("同期フォルダー-$(x 132)" "ドキュメント-$(x 133)")
folder=${above[0]}/${above[1]}/写真と表 # 表 is 0x95 0x5C in code page 932: its second byte is a "\"
windows_folder=${folder//\//\\}
files=(あいさつ.txt ソース.jpg 写真1.jpg 表紙.jpg ﾃｽﾄ画像.jpg) # in the lists' order
renamed=(あいさつ.txt trip0.jpg trip1.jpg trip2.jpg trip3.jpg)

source "$(dirname "$0")/../x11_windows.sh"
pixel() {
    import -window root -crop "1x1+$1+$2" -depth 8 txt:- | sed -n 's/.*(\([0-9]*,[0-9]*,[0-9]*\).*/\1/p' |
        head -n 1
}
expect_colour() { # twips, colour, what lies there; the window may still be painting
    local got
    for _ in $(seq 50); do
        got=$(pixel $(at "$1" "$2"))
        [ "$got" = "$3" ] && return 0
        sleep 0.1
    done
    fail "$4 should be rgb($3) at $1,$2 twips, is rgb($got)"
}
cp932() { iconv -f UTF-8 -t CP932; }

rm -rf "$work"
mkdir -p "$work/$folder"
(cd "$work" && cmake -E tar xf "$zip")
[ -f "$work/Tavrin/tavrin.exe" ] && [ -f "$work/Tavrin/readme.txt" ] || fail "the zip holds no Tavrin folder"
for text in LICENSE.txt LGPL-3.0.txt GPL-3.0.txt THIRD-PARTY-NOTICES.txt "$(basename "${zip%-win64.zip}")-src.zip"; do
    [ -s "$work/Tavrin/licenses/$text" ] || fail "the zip holds no licenses/$text"
done
for name in "${files[@]}"; do
    printf 'content of %s' "$name" >"$work/$folder/$name"
done

# Started where the user keeps the folder, as from a shortcut there; nothing
# but the executable and its read-me lies beside it.
start=$(date +%s%N)
(cd "$work" && exec "$wine" Tavrin/tavrin.exe >/dev/null 2>&1) &
program=$!
main=$(await_window Tavrin) || fail "no main window"
echo "end_to_end: main window after $((($(date +%s%N) - start) / 1000000)) ms"
sleep 0.5
read -r ox oy < <(origin_of "$main" 503 279)
expect_colour 6547 495 128,128,255 "the base name box NewNa"
expect_colour 4840 800 255,224,192 "the extension list GetCN"
expect_colour 2700 3500 255,192,192 "the help frame FHelp"

for _ in "${above[@]}"; do # down to the folder above the files; the helper opens that
    click 1087 1050 # Dir1: the last entry
    xdotool key End
    sleep 0.3
    xdotool key Return
    sleep 0.8
done
rename_second_extension_to_trip

line="-C:\\$base\\$windows_folder\\"
length=$(($(printf '%s' "$line" | iconv -f UTF-8 -t UTF-16LE | wc -c) / 2))
[ "$length" -eq 302 ] || fail "the folder line is $length characters long"
{ printf '%s\r\n' "$line" "${files[@]:1}"; } | cp932 >"$out/Old.ini.expected"
{ printf '%s\r\n' "$line" "${renamed[@]:1}"; } | cp932 >"$out/New.ini.expected"
for ini in Old.ini New.ini; do
    cmp "$work/Tavrin/$ini" "$out/$ini.expected" ||
        fail "$ini holds $(od -An -tx1 "$work/Tavrin/$ini" | head -n 8)"
done
for i in "${!files[@]}"; do
    [ "$(cat "$work/$folder/${renamed[$i]}" 2>/dev/null)" = "content of ${files[$i]}" ] ||
        fail "${files[$i]} was not renamed to ${renamed[$i]} with its content"
done

click 2272 1830 # the tab "ン"
click 1327 2947 # ReNm
dialog=$(await_window 復元確認) || fail "no restore dialog"
sleep 0.5
read -r ox oy < <(origin_of "$dialog" 410 311)
expect_colour 60 60 64,64,64 "the restore dialog's background"
shot "$dialog" restore-dialog.png
click 4087 4267 # 実行
confirm 実行

expect_restored
[ ! -e "$work/Tavrin/Old.ini" ] && [ ! -e "$work/Tavrin/New.ini" ] || fail "the history is still there"
press_end
rm -rf "$work"
echo "end_to_end: renamed and restored ${#files[@]} files; pictures in $out"
