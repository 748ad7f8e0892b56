# Sourced by the end-to-end tests that drive a program's windows on an X
# display with xdotool. The caller sets $out (where screenshots go) and
# $program (the pid to stop when a check fails), and places the client area's
# top left corner in $ox $oy with origin_of before it clicks.

program=
fail() {
    echo "end_to_end: $*" >&2
    import -window root "$out/failure.png" 2>/dev/null || true
    [ -z "$program" ] || kill "$program" 2>/dev/null || true
    exit 1
}

# Windows by title; mapped ones only.
windows_named() {
    local id
    for id in $(xdotool search --name "^$1\$" 2>/dev/null); do
        if xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable'; then
            echo "$id"
        fi
    done
}
# Waits up to 20 s for a mapped window titled $1 other than the ids in $2.
await_window() {
    local id
    for _ in $(seq 200); do
        for id in $(windows_named "$1"); do
            case " ${2:-} " in *" $id "*) ;; *)
                echo "$id"
                return 0
                ;;
            esac
        done
        sleep 0.1
    done
    return 1
}
await_gone() {
    for _ in $(seq 200); do
        xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable' || return 0
        sleep 0.1
    done
    return 1
}
geometry() { # the window's X, Y, width and height on the screen
    xwininfo -id "$1" | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4}
        /Width:/{w=$2} /Height:/{h=$2} END{print x, y, w, h}'
}
# The client area of a window whose fixed client size is $2 x $3 pixels sits at
# the bottom of its X window (a menu bar may lie above it), its frame, if any,
# as wide on every side.
origin_of() {
    local x y w h side
    read -r x y w h < <(geometry "$1")
    side=$(((w - $2) / 2))
    echo $((x + side)) $((y + h - $3 - side))
}
ox=0 oy=0
at() { echo $((ox + $1 / 15)) $((oy + $2 / 15)); }
click() { # twips from the client's top left corner
    xdotool mousemove $(at "$1" "$2") click 1
    sleep 0.4
}
shot() { # window, file
    local x y w h
    read -r x y w h < <(geometry "$1")
    import -window root -crop "$((w + 16))x$((h + 40))+$((x - 8))+$((y - 32))" +repage "$out/$2"
}
# Every file of $work/$folder (the names in ${files[@]}) has its name and
# content back, and nothing else is there.
expect_restored() {
    local i
    for i in "${!files[@]}"; do
        [ "$(cat "$work/$folder/${files[$i]}" 2>/dev/null)" = "content of ${files[$i]}" ] ||
            fail "${files[$i]} did not get its name and content back"
    done
    [ "$(ls "$work/$folder" | wc -l)" -eq "${#files[@]}" ] || fail "stray files: $(ls "$work/$folder")"
}
# End in the main window, which must come back after the restore, ends the program.
press_end() {
    local main
    main=$(await_window Tavrin) || fail "the main window did not come back"
    sleep 0.5
    read -r ox oy < <(origin_of "$main" 503 279)
    click 6547 1747 # End
    for _ in $(seq 100); do
        kill -0 "$program" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$program" 2>/dev/null && fail "End did not end the program"
    program=
}
# Answers the message box that follows $1 (the main window $main excepted).
confirm() {
    local box
    box=$(await_window Tavrin "$main") || fail "no message after $1"
    xdotool windowactivate --sync "$box" key Return 2>/dev/null || xdotool key Return
    await_gone "$box" || fail "the message box after $1 stayed"
}
# In the main window $main, placed with origin_of: opens the last folder of the
# folder list, collects the extensions, chooses the second one (jpg), types the
# base name "trip", takes main-window.png and starts the run.
rename_second_extension_to_trip() {
    click 1087 1050 # Dir1: the last entry is the folder with the files
    xdotool key End
    sleep 0.3
    xdotool key Return
    sleep 0.8
    click 6007 1147 # Get
    click 4840 630  # GetCN: the first entry, txt, is selected; the next one is jpg
    xdotool key Down
    sleep 0.4
    click 6547 495 # NewNa
    xdotool type --delay 50 trip
    sleep 0.3
    shot "$main" main-window.png
    click 7087 1147 # Start
    confirm Start
}
