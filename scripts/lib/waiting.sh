# shellcheck shell=bash
# Waiting on a condition instead of for a fixed time: a file, a line in a log, a process, a window.
# Sourced by scripts and shell tests.

# Runs a command (a check of the screen, of a window or of files the programs write) until it
# succeeds, for at most $1 seconds, and once more at the end.
wait_for() {
    # Named apart from what the command may read of its callers' variables.
    local wait_for_deadline=$((${EPOCHREALTIME//[!0-9]/} + $1 * 1000000))
    shift
    while [ "${EPOCHREALTIME//[!0-9]/}" -lt "$wait_for_deadline" ]; do
        "$@" && return 0
        sleep 0.1
    done
    "$@"
}

# Prints the size of file $1, 0 while there is none: a mark after which to look for new lines.
file_mark() {
    stat -c %s "$1" 2>/dev/null || echo 0
}

# Succeeds when file $1 has a line matching the extended regular expression $3 past the mark $2
# (from file_mark), or anywhere when the file is shorter than the mark (it was moved aside).
has_new_line() {
    local file=$1 mark=$2 pattern=$3
    [ "$(file_mark "$file")" -ge "$mark" ] || mark=0
    # Not a pipe: grep leaving early would fail tail, and with it the pipeline under pipefail.
    grep -qE -- "$pattern" < <(tail -c +$((mark + 1)) "$file" 2>/dev/null)
}

# Succeeds once the process $1 has ended.
process_gone() {
    ! kill -0 "$1" 2>/dev/null
}
