# shellcheck shell=bash
# Drives Windows programs running under Wine from outside, through the X display they draw on:
# finds their windows, types with key presses and captures what is on the screen (clicks on a
# window's controls are in window-controls.sh; single keys are pressed with xdotool directly).
# Sourced by scripts and tests; expects DISPLAY to name the display the programs use.
source "$(dirname "${BASH_SOURCE[0]}")/waiting.sh"

# Prints the id of a visible window titled exactly $1; fails when there is none.
x11_window() {
    xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | awk 'NR == 1 { print } END { exit NR == 0 }'
}

# Prints the id of the visible window titled exactly $1, waiting up to $2 seconds (default 20).
x11_wait_window() {
    wait_for "${2:-20}" x11_window "$1"
}

# Succeeds once no visible window titled exactly $1 is left, waiting up to $2 seconds.
x11_wait_window_gone() {
    local title=$1
    x11_no_window() { ! x11_window "$title" >/dev/null; }
    wait_for "${2:-20}" x11_no_window
}

# Types the text $1 with one key press a character (letters, digits, '-', '.', '_', '@'), as a person
# types, into whatever has the keyboard: key events, where `xdotool type` would send text.
x11_type_keys() {
    local text=$1 keys=() index character
    for ((index = 0; index < ${#text}; index++)); do
        character=${text:index:1}
        case $character in
        [a-zA-Z0-9]) keys+=("$character") ;;
        -) keys+=(minus) ;;
        .) keys+=(period) ;;
        _) keys+=(underscore) ;;
        @) keys+=(at) ;;
        *)
            echo "x11_type_keys: no key for '$character'" >&2
            return 1
            ;;
        esac
    done
    xdotool key --delay 30 "${keys[@]}"
}

# Prints "X Y" of the top-left corner of window $1 on the screen.
x11_window_origin() {
    local X Y WINDOW WIDTH HEIGHT SCREEN
    eval "$(xdotool getwindowgeometry --shell "$1")"
    echo "$X $Y"
}

# Saves the whole screen to the PNG file $1.
x11_capture() {
    import -window root "$1"
}

# Saves the screen to the PNG file $1 once it has stopped changing: when two captures in a row
# show the same pixels, or after $2 seconds (default 10) with the last capture.
x11_capture_settled() {
    local file=$1 previous=
    x11_capture_unchanged() {
        local pixels
        x11_capture "$file" && pixels=$(identify -format '%#' "$file") || return 1
        [ "$pixels" = "$previous" ] && return 0
        previous=$pixels
        return 1
    }
    wait_for "${2:-10}" x11_capture_unchanged || true
}

# Prints the colour of pixel ($2, $3) of the image $1 as "R,G,B" in 0-255.
x11_pixel() {
    local colour='%[fx:int(255*r+0.5)],%[fx:int(255*g+0.5)],%[fx:int(255*b+0.5)]'
    convert "$1" -crop "1x1+$2+$3" -depth 8 -format "$colour" info:
}
