# shellcheck shell=bash
# The local demo: a run directory holding Gatehouse.exe, the demo package and the configuration
# that points at it, and the development server that serves the package and the login.
# Sourced by scripts/run and the end-to-end test.
source "$(dirname "${BASH_SOURCE[0]}")/wine-prefix.sh"
source "$(dirname "${BASH_SOURCE[0]}")/waiting.sh"
source "$(dirname "${BASH_SOURCE[0]}")/static-server.sh"

# Where the update channel's content store is served from, beside the other update files.
demo_store_url=http://127.0.0.1/K3ClientRes/exe/TalvoPC/update/store/
demo_store_path=/K3ClientRes/exe/TalvoPC/update/store/
# The development server's package port while nginx holds port 80 in front of it.
demo_server_behind_port=9980

# Copies the built launcher into $2 and makes the demo package and its configuration beside it.
# With a third argument, that launcher build is copied instead (update-demo/Gatehouse.exe follows
# the development server's update channel).
demo_prepare_run_dir() {
    local root build=$1 run_dir=$2 launcher=${3:-$1/Gatehouse.exe}
    root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
    mkdir -p "$run_dir/updates"
    cp "$launcher" "$run_dir/Gatehouse.exe"
    "$root/scripts/make-demo-package" "$build" "$run_dir"
}

# As an operator ships a new client version through the update channel: version 2 of the demo
# client (one file more) is packed into $2/updates and published there in a signed manifest, with
# the demo key, and its files into the content store $2/updates/store, which the manifest names, so
# a launcher fetches only what it lacks. The run directory's launcher.config.json is not touched.
demo_publish_update() {
    local root build=$1 run_dir=$2
    root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
    local updates="$run_dir/updates" folder="$run_dir/.client-2"
    local base=http://127.0.0.1/K3ClientRes/exe/TalvoPC/update
    rm -rf "$folder"
    unzip -q "$run_dir/TalvoPC.zip" -d "$folder"
    echo "client version 2" >"$folder/TalvoPC/talvo-曜石纪元_Data/version-2.txt"
    # The tool's progress lines are shown only when it fails.
    "$build/wine-run" "$build/gatehouse-pack.exe" pack "$(windows_path "$folder")" \
        "$(windows_path "$updates/TalvoPC-2.zip")" \
        --executable 'TalvoPC/talvo-曜石纪元.exe' --version demo-2 >/dev/null 2>"$updates/pack.err" ||
        { cat "$updates/pack.err" >&2; return 1; }
    rm -rf "$folder"
    "$build/wine-run" "$build/gatehouse-pack.exe" publish "$(windows_path "$updates/TalvoPC-2.zip")" \
        --key "$(windows_path "$root/tools/demo-update-key.json")" --manifest "$(windows_path "$updates/manifest.signed")" \
        --executable 'TalvoPC/talvo-曜石纪元.exe' --version demo-2 --url "$base/TalvoPC-2.zip" \
        --store "$(windows_path "$updates/store")" --store-url "$demo_store_url" \
        --config "$(windows_path "$run_dir/launcher.config.json")" 2>"$updates/publish.err" ||
        { cat "$updates/publish.err" >&2; return 1; }
}

# As an operator checks a hosted deployment before players meet it: gatehouse-pack verify fetches
# the development server's update channel with the launcher's own rules and the demo's public key,
# judged against the run directory $2's configuration, and expects a manifest numbered at least $3
# (the sequence publish printed). Prints one line per check; fails when a check fails.
demo_verify_update() {
    local root build=$1 run_dir=$2 sequence=$3
    root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
    # Its progress lines are shown only when it fails.
    "$build/wine-run" "$build/gatehouse-pack.exe" verify \
        --manifest-url http://127.0.0.1/K3ClientRes/exe/TalvoPC/update/manifest.signed \
        --key "$(windows_path "$root/tools/demo-update-key.json")" \
        --config "$(windows_path "$run_dir/launcher.config.json")" --previous-sequence "$sequence" \
        2>"$run_dir/updates/verify.err" || { cat "$run_dir/updates/verify.err" >&2; return 1; }
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
    ready_or_gone() { [ -s "$ready" ] || process_gone "$demo_server_pid"; }
    wait_for 10 ready_or_gone || {
        echo "the development server did not get ready in 10 s" >&2
        return 1
    }
    if [ ! -s "$ready" ]; then
        echo "the development server did not start:" >&2
        cat "$log" >&2
        return 1
    fi
    rm -f "$ready"
}

# As demo_server_start, with a real web server in front as a hosting site has: nginx
# (static-server.sh) takes port 80, serves the content store $3 (the folder publish --store writes)
# under the update channel's store/ path, and passes every other path to the development server on
# port 9980. nginx keeps its files and its access log in folder $4. Options after those are the
# development server's.
demo_server_start_with_store() {
    local package=$1 log=$2 store=$3
    demo_nginx_dir=$4
    shift 4
    mkdir -p "$store"
    demo_server_start "$package" "$log" --package-port "$demo_server_behind_port" "$@" || return 1
    static_server_start "$demo_nginx_dir" 80 --rest "http://127.0.0.1:$demo_server_behind_port" \
        "$demo_store_path" "$store" || {
        demo_server_stop
        return 1
    }
}

# Prints "requests=N connections=N bytes=N": what nginx sent of the content store since the mark $1
# (static_server_mark "$demo_nginx_dir"), index and packs.
demo_store_fetched() {
    static_server_summary "$demo_nginx_dir" --since "$1" --prefix "$demo_store_path"
}

# Stops the development server started by demo_server_start, and the nginx in front of it if any.
demo_server_stop() {
    if [ -n "${demo_nginx_dir:-}" ]; then
        static_server_stop "$demo_nginx_dir"
        demo_nginx_dir=
    fi
    [ -n "${demo_server_pid:-}" ] || return 0
    kill -TERM "$demo_server_pid" 2>/dev/null || true
    wait "$demo_server_pid" 2>/dev/null || true
    demo_server_pid=
}
