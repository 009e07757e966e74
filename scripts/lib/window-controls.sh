# shellcheck shell=bash
# Where the controls of a Windows program's window lie on the screen, read from the running window
# by the build's window_probe (tools/window_probe) rather than copied from the code that lays them
# out. A control is named by its id in the launcher's headers under src/ui (`accountEdit` is
# `inline constexpr int accountEditId = 1001;`), or given by its number (another program's).
# Sourced after x11-driver.sh; expects DISPLAY to name the Wine session's display, and
# window_controls_of to have chosen the build tree and the window.

window_controls_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
window_controls_build=
window_controls_window=()

# Reads controls through the probe of build tree $1, from the launcher's window or, given a window
# class $2, from the first visible window of that class whose title starts with $3.
window_controls_of() {
    window_controls_build=$1
    window_controls_window=("${@:2}")
}

# Prints the probe's lines for the chosen window: "window X Y WIDTH HEIGHT VISIBLE ENABLED CLASS",
# then "ID X Y WIDTH HEIGHT VISIBLE ENABLED CLASS" for each control. Fails while it is not shown.
window_controls_probe() {
    local probe="$window_controls_build/tools/window_probe.exe"
    [ -f "$probe" ] || {
        echo "window-controls: no $probe (build the cmake target window_probe)" >&2
        return 1
    }
    # The title may be Chinese: Wine reads the command line in the locale's encoding.
    LC_ALL=C.UTF-8 "$window_controls_build/wine-run" "$probe" "${window_controls_window[@]}"
}

# Prints the id of the control named $1 (a number stands for itself).
control_id() {
    if [[ $1 =~ ^[0-9]+$ ]]; then
        echo "$1"
        return
    fi
    local id
    id=$(sed -nE "s/^inline constexpr int ${1}Id = ([0-9]+);.*/\1/p" "$window_controls_root"/src/ui/*.h | head -n 1)
    [ -n "$id" ] || {
        echo "window-controls: no control ${1}Id in $window_controls_root/src/ui" >&2
        return 1
    }
    echo "$id"
}

# Prints "X Y WIDTH HEIGHT VISIBLE ENABLED" of control $1 on the screen; fails when the window or
# the control is not there.
control_state() {
    local id lines
    id=$(control_id "$1") && lines=$(window_controls_probe) || return 1
    awk -v id="$id" '$1 == id { print $2, $3, $4, $5, $6, $7; found = 1; exit } END { exit !found }' <<<"$lines"
}

# Prints "X Y WIDTH HEIGHT" of control $1 on the screen.
control_rect() {
    local state
    state=$(control_state "$1") || return 1
    cut -d' ' -f1-4 <<<"$state"
}

# Prints "X Y" of the centre of control $1 on the screen.
control_centre() {
    local x y width height
    read -r x y width height < <(control_rect "$1") || return 1
    echo "$((x + width / 2)) $((y + height / 2))"
}

# Succeed when control $1 is shown, or can take input, respectively.
control_visible() { [ "$(control_state "$1" | cut -d' ' -f5)" = 1 ]; }
control_enabled() { [ "$(control_state "$1" | cut -d' ' -f6)" = 1 ]; }

# Clicks the centre of control $1, where a person would.
click_control() {
    local x y
    read -r x y < <(control_centre "$1") || return 1
    xdotool mousemove "$x" "$y" click 1
}
