# Sourced by the scripts that show windows on a virtual X display of their own.
# start_display [DISPLAY] starts Xvfb (on DISPLAY, else the first free one)
# with openbox, waits until it answers, sets $display and adds both processes
# to the array $pids, which the caller stops on exit.
start_display() {
    local number
    if [ -n "${1:-}" ]; then
        display=$1
        Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
        pids+=($!)
    else
        number=$(mktemp)
        Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$number" >/dev/null 2>&1 &
        pids+=($!)
        for _ in $(seq 100); do
            [ -s "$number" ] && break
            sleep 0.1
        done
        display=:$(head -n 1 "$number")
        rm -f "$number"
    fi
    for _ in $(seq 100); do
        xdpyinfo -display "$display" >/dev/null 2>&1 && break
        sleep 0.1
    done
    # Wine waits for a window manager's answer before it counts a window as shown.
    DISPLAY=$display openbox >/dev/null 2>&1 &
    pids+=($!)
}
