# shellcheck shell=bash
# The Wine prefix inside a build tree, as every script and shell test meets it: the environment Wine
# runs in there, the session's display, the prefix user's folders on the host, and Windows paths of
# host files. Sourced; defines functions and two constants only.

# Debian's Wine: neither is on PATH.
wine_loader=/usr/lib/wine/wine64
wine_server=/usr/lib/wine/wineserver

# Prints the prefix of build tree $1 as an absolute path, the only form Wine takes.
wine_prefix_dir() {
    echo "$(realpath -m "$1")/wine/prefix"
}

# Exports what Wine needs to run programs in the prefix of build tree $1: the prefix, no debug
# output, no Mono or Gecko prompts, and the further DLL overrides $2 if given (WINEDLLOVERRIDES form).
wine_prefix_export() {
    WINEPREFIX=$(wine_prefix_dir "$1")
    export WINEPREFIX WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=${2:+;$2}"
}

# Runs a program in the prefix of build tree $1 with the further DLL overrides $2 (may be empty),
# leaving the caller's environment as it was. The arguments after those two are Wine's.
wine_prefix_run() {
    local build=$1 overrides=$2
    shift 2
    (
        wine_prefix_export "$build" "$overrides"
        exec "$wine_loader" "$@"
    )
}

# Succeeds while the Wine session of build tree $1 (scripts/wine-session) is up: its prefix is made
# and the display it names is there.
wine_session_running() {
    local display
    display=$(cat "$1/wine/display" 2>/dev/null) || return 1
    [ -f "$1/wine/prefix-ready" ] && [ -n "$display" ] && [ -e "/tmp/.X11-unix/X${display#:}" ]
}

# Exports DISPLAY as the display of the Wine session of build tree $1.
wine_session_display() {
    DISPLAY=$(cat "$1/wine/display")
    export DISPLAY
}

# Prints the host folder of the prefix's user (drive_c/users/<user>, named after the host user).
wine_prefix_user_dir() {
    local folder
    folder=$(printf '%s\n' "$1"/wine/prefix/drive_c/users/*/ | grep -v /Public/ | head -n 1)
    echo "${folder%/}"
}

# Prints the host folder that is %LOCALAPPDATA% of the prefix's user.
wine_prefix_local_app_data() {
    echo "$(wine_prefix_user_dir "$1")/AppData/Local"
}

# Prints the Windows path of the host path $1 (absolute) through drive Z:, the host's root.
windows_path() {
    echo "Z:${1//\//\\}"
}

# Prints the Windows path on drive C: of the path $2 inside the prefix of build tree $1. Programs
# that install run from C:, since Z: is itself a link.
prefix_windows_path() {
    local drive_c="$1/wine/prefix/drive_c"
    case $2 in
    "$drive_c"/*) ;;
    *)
        echo "prefix_windows_path: $2 is not on the prefix's drive C:" >&2
        return 1
        ;;
    esac
    local inside=${2#"$drive_c"/}
    echo "C:\\${inside//\//\\}"
}
