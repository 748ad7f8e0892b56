#!/usr/bin/env bash
# end_to_end.sh OUT
# The installed /usr/bin/tavrin as a user other than root meets it, on the X
# display in $DISPLAY: started in a folder of the user's home, driven with the
# mouse and keyboard at the places the twips of the windows give (15 twips to
# a pixel), it renames the .jpg files of a folder and undoes that. The program
# folder is root's, so the history must go to the user's state folder and
# nowhere else; every file must get its name and content back. Screenshots of
# the main window and of the restore dialog go to OUT.
set -euo pipefail
out=$1
mkdir -p "$out"
[ "$(id -u)" -ne 0 ] || { echo "end_to_end: run me as a user other than root" >&2; exit 1; }

state=${XDG_STATE_HOME:-$HOME/.local/state}/tavrin
program_folder=$(dirname "$(dpkg -L tavrin | grep '/tavrin/tavrin$')")
work=$HOME/tavrin-e2e
folder=写真
files=(memo.txt a.jpg b.jpg ｶﾒﾗ.jpg) # in the lists' order
renamed=(memo.txt trip0.jpg trip1.jpg trip2.jpg)

source "$(dirname "$0")/x11_windows.sh"

[ ! -e "$state" ] || fail "$state is there before the first start"
rm -rf "$work"
mkdir -p "$work/$folder"
for name in "${files[@]}"; do
    printf 'content of %s' "$name" >"$work/$folder/$name"
done

(cd "$work" && exec /usr/bin/tavrin >/dev/null 2>&1) &
program=$!
main=$(await_window Tavrin) || fail "no main window"
sleep 0.5
read -r ox oy < <(origin_of "$main" 503 279)
rename_second_extension_to_trip

for i in "${!files[@]}"; do
    [ "$(cat "$work/$folder/${renamed[$i]}" 2>/dev/null)" = "content of ${files[$i]}" ] ||
        fail "${files[$i]} was not renamed to ${renamed[$i]}: $(ls "$work/$folder")"
done
[ "$(ls "$state")" = "$(printf 'New.ini\nOld.ini')" ] || fail "$state holds: $(ls -A "$state")"
grep -q "trip2.jpg" "$state/New.ini" || fail "New.ini does not name trip2.jpg"
[ -z "$(ls -A "$program_folder" | grep -v -x -e tavrin -e readme.txt)" ] ||
    fail "$program_folder holds $(ls -A "$program_folder")"

click 2272 1830 # the tab "ン"
click 1327 2947 # ReNm
dialog=$(await_window 復元確認) || fail "no restore dialog"
sleep 0.5
read -r ox oy < <(origin_of "$dialog" 410 311)
shot "$dialog" restore-dialog.png
click 4087 4267 # 実行
confirm 実行

expect_restored
[ -z "$(ls -A "$state")" ] || fail "the history is still there: $(ls -A "$state")"
press_end
rm -rf "$work"
echo "end_to_end: renamed and restored ${#files[@]} files as $(id -un), history in $state"
