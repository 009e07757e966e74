# The local demo: a run directory holding Gatehouse.exe, the demo package and the configuration
# that points at it, and the development server that serves the package and the login.
# Sourced by scripts/run and the end-to-end test.

# Copies the built launcher into $2 and makes the demo package and its configuration beside it.
demo_prepare_run_dir() {
    local root build=$1 run_dir=$2
    root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
    mkdir -p "$run_dir"
    cp "$build/Gatehouse.exe" "$run_dir/"
    "$root/scripts/make-demo-package" "$build" "$run_dir"
}

# Starts the development server serving $1 (the package), logging to $2, with any further options
# of the server; sets demo_server_pid once both services listen.
demo_server_start() {
    local root package=$1 log=$2
    shift 2
    root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
    local ready
    ready=$(mktemp -u "${TMPDIR:-/tmp}/demo-server-ready.XXXXXX")
    python3 -u "$root/tools/demo_server.py" --package "$package" --ready-file "$ready" "$@" >"$log" 2>&1 &
    demo_server_pid=$!
    for ((i = 0; i < 100; i++)); do
        if [ -s "$ready" ]; then
            rm -f "$ready"
            return 0
        fi
        if ! kill -0 "$demo_server_pid" 2>/dev/null; then
            echo "the development server did not start:" >&2
            cat "$log" >&2
            return 1
        fi
        sleep 0.1
    done
    echo "the development server did not get ready in 10 s" >&2
    return 1
}

# Stops the development server started by demo_server_start.
demo_server_stop() {
    [ -n "${demo_server_pid:-}" ] || return 0
    kill -TERM "$demo_server_pid" 2>/dev/null || true
    wait "$demo_server_pid" 2>/dev/null || true
    demo_server_pid=
}
