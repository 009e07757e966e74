# Drives Windows programs running under Wine from outside, through the X display they draw on:
# finds their windows, clicks where a person would, and captures what is on the screen (keys are
# typed with xdotool directly, into the control the click focused).
# Sourced by scripts and tests; expects DISPLAY to name the display the programs use.

# Runs a command (a check of the screen or of files the programs write) until it succeeds, for at
# most $1 seconds.
wait_for() {
    local seconds=$1
    shift
    for ((i = 0; i < seconds * 10; i++)); do
        "$@" && return 0
        sleep 0.1
    done
    "$@"
}

# Prints the id of the visible window titled exactly $1, waiting up to $2 seconds (default 20).
x11_wait_window() {
    local title=$1 seconds=${2:-20} id
    for ((i = 0; i < seconds * 10; i++)); do
        id=$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | head -n 1 || true)
        if [ -n "$id" ]; then
            echo "$id"
            return 0
        fi
        sleep 0.1
    done
    return 1
}

# Succeeds once no visible window titled exactly $1 is left, waiting up to $2 seconds.
x11_wait_window_gone() {
    local title=$1 seconds=${2:-20}
    for ((i = 0; i < seconds * 10; i++)); do
        xdotool search --onlyvisible --name "^$title\$" >/dev/null 2>&1 || return 0
        sleep 0.1
    done
    return 1
}

# Prints "X Y" of the top-left corner of window $1 on the screen.
x11_window_origin() {
    local X Y WINDOW WIDTH HEIGHT SCREEN
    eval "$(xdotool getwindowgeometry --shell "$1")"
    echo "$X $Y"
}

# Clicks at ($2, $3) relative to the top-left corner of window $1.
x11_click() {
    local origin
    origin=$(x11_window_origin "$1")
    xdotool mousemove $((${origin% *} + $2)) $((${origin#* } + $3)) click 1
}

# Saves the whole screen to the PNG file $1.
x11_capture() {
    import -window root "$1"
}

# Prints the colour of pixel ($2, $3) of the image $1 as "R,G,B" in 0-255.
x11_pixel() {
    local colour='%[fx:int(255*r+0.5)],%[fx:int(255*g+0.5)],%[fx:int(255*b+0.5)]'
    convert "$1" -crop "1x1+$2+$3" -depth 8 -format "$colour" info:
}
