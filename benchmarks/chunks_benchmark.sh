#!/usr/bin/env bash
# The content store's measurements (scripts/benchmark chunks), each against its reference in one run.
# Versions 1 and 2 of the benchmark client (make_benchmark_package.py) are published into one store
# with gatehouse-pack and a throwaway key, served with nginx (scripts/lib/static-server.sh) on
# 127.0.0.1:80, where the launcher's rules let it fetch, and installed by the launcher's own
# installClient (chunks_benchmark.exe) on the prefix's C: drive. Bytes and requests are nginx's.
#
#   chunks_benchmark.sh SOURCE_DIR BUILD_DIR
#
# Serving port 80 is shared with the tests of every build on the machine: with BENCHMARK_PORT_LOCK
# naming a lock file, it is held (flock) from nginx's start to its stop.
set -euo pipefail
root=$1 build=$2
source "$root/scripts/lib/wine-prefix.sh"
source "$root/scripts/lib/static-server.sh"

data="$build/benchmarks/data"
site="$data/chunks-site"
site_path=/K3ClientRes/exe/TalvoPC/benchmark/
nginx_dir="$data/chunks-nginx"
drive_c="$build/wine/prefix/drive_c"
launcher_dir="$drive_c/chunks-benchmark"
cache="$drive_c/chunks-benchmark-cache"
key="$data/chunks-key.json"
mkdir -p "$data" "$site"

ratio() { python3 -c "print(f'{$1 / $2:.${3:-3}f}')"; }
seconds_since() { python3 -c "print(round($(date +%s.%N) - $1, 3))"; }
# A value NAME=VALUE of a program's output, whose lines end in CR LF.
field() { sed -n "s/^$1=//p" "$2" | tr -d '\r'; }

# Makes version 1 and 2 of the client at scale $2 and publishes both into the store of site folder
# $1; package-N.json there is the clientPackage each manifest names. Done once per data folder.
publish_versions() {
    local name=$1 scale=$2 folder="$site/$1" version
    local first="$data/package.zip"
    [ "$name" = full ] || first="$data/package-$name.zip"
    local second="${first%.zip}-2.zip"
    [ -f "$first" ] || python3 "$root/benchmarks/make_benchmark_package.py" "$first" "$scale" 1
    [ -f "$second" ] || python3 "$root/benchmarks/make_benchmark_package.py" "$second" "$scale" 2
    [ -f "$folder/package-2.json" ] && return
    [ -f "$key" ] || "$build/wine-run" "$build/gatehouse-pack.exe" keygen "$(windows_path "$key")" >/dev/null
    rm -rf "$folder"
    mkdir -p "$folder"
    ln -f "$first" "$folder/TalvoPC-1.zip"
    ln -f "$second" "$folder/TalvoPC-2.zip"
    for version in 1 2; do
        echo "publishing version $version of the $name client into its store" >&2
        "$build/wine-run" "$build/gatehouse-pack.exe" publish "$(windows_path "$folder/TalvoPC-$version.zip")" \
            --key "$(windows_path "$key")" --manifest "$(windows_path "$folder/manifest-$version.signed")" \
            --executable 'TalvoPC/talvo-曜石纪元.exe' --version "benchmark-$version" \
            --url "http://127.0.0.1$site_path$name/TalvoPC-$version.zip" \
            --store "$(windows_path "$folder/store")" --store-url "http://127.0.0.1$site_path$name/store/" \
            2>/dev/null | grep -E '^(store|index):' >&2
        # The signed file is the signature's line, then the manifest.
        python3 -c '
import json, sys
manifest = json.loads(open(sys.argv[1], encoding="utf-8").read().split("\n", 1)[1])
json.dump(manifest["clientPackage"], open(sys.argv[2], "w", encoding="utf-8"), ensure_ascii=False)
' "$folder/manifest-$version.signed" "$folder/package-$version.json"
    done
}

serve() { # [--rate RATE]: (re)starts nginx on port 80 serving the site
    static_server_start "$nginx_dir" 80 "$@" "$site_path" "$site"
}

fresh() { # no client installed and no chunk cache
    rm -rf "$launcher_dir" "$cache"
    sync
}

# Installs with chunks_benchmark.exe: $1 the site folder, $2 the version, further options its own.
# Its output goes to $install_output.
install_output="$data/chunks-install.txt"
install() {
    local folder="$site/$1" version=$2
    shift 2
    "$build/wine-run" "$build/benchmarks/chunks_benchmark.exe" "$(windows_path "$folder/package-$version.json")" \
        "$(prefix_windows_path "$build" "$launcher_dir")" "$(prefix_windows_path "$build" "$cache")" "$@" \
        >"$install_output"
    cat "$install_output" >&2
    grep -q '^seconds=' "$install_output"
}

# Sets requests, connections and bytes to what nginx sent under the site since the mark $1.
fetched_since() {
    read -r requests connections bytes < <(static_server_summary "$nginx_dir" --since "$1" --prefix "$site_path" |
        sed 's/[a-z]*=//g')
}

publish_versions full 1.0
publish_versions small 0.125
package_2=$(stat -c %s "$site/full/TalvoPC-2.zip")
package_1=$(stat -c %s "$site/full/TalvoPC-1.zip")

if [ -n "${BENCHMARK_PORT_LOCK:-}" ]; then
    exec 8>"$BENCHMARK_PORT_LOCK"
    echo "waiting for the lock $BENCHMARK_PORT_LOCK to serve port 80" >&2
    flock 8
fi
trap 'static_server_stop "$nginx_dir"' EXIT
serve

echo "-- first install through the store (version 1, $package_1 bytes as a package)"
fresh
mark=$(static_server_mark "$nginx_dir")
install full 1
fetched_since "$mark"
first_requests=$requests first_connections=$connections store_bytes=$bytes
first_seconds=$(field seconds "$install_output") peak_full=$(field peak_mib "$install_output")
echo "fetched $store_bytes bytes in $first_requests requests on $first_connections connections"

echo "-- reference: cp -r of the version 1 client folder on the same drive"
rm -rf "$drive_c/chunks-benchmark-copy"
sync
start=$(date +%s.%N)
cp -r "$launcher_dir/GameClient" "$drive_c/chunks-benchmark-copy"
copy_seconds=$(seconds_since "$start")
rm -rf "$drive_c/chunks-benchmark-copy"
echo "cp -r: $copy_seconds s"
# The same copy as a Windows program makes it on this disk, file by file under Wine.
sync
"$build/wine-run" "$build/benchmarks/chunks_benchmark.exe" --copy \
    "$(prefix_windows_path "$build" "$launcher_dir/GameClient")" \
    "$(prefix_windows_path "$build" "$drive_c/chunks-benchmark-copy")" >"$install_output"
wine_copy_seconds=$(field seconds "$install_output")
rm -rf "$drive_c/chunks-benchmark-copy"
echo "CopyFileW under Wine: $wine_copy_seconds s"

echo "-- update from version 1 to version 2 through the store"
sync
mark=$(static_server_mark "$nginx_dir")
install full 2
fetched_since "$mark"
update_requests=$requests update_bytes=$bytes update_seconds=$(field seconds "$install_output")
peak_update=$(field peak_mib "$install_output")
echo "fetched $update_bytes bytes in $update_requests requests; the version 2 package is $package_2 bytes"

echo "-- a first install killed at about half way, then started again"
fresh
mark=$(static_server_mark "$nginx_dir")
"$build/wine-run" "$build/benchmarks/chunks_benchmark.exe" "$(windows_path "$site/full/package-1.json")" \
    "$(prefix_windows_path "$build" "$launcher_dir")" "$(prefix_windows_path "$build" "$cache")" \
    >"$install_output" &
installer=$!
half_fetched() {
    fetched_since "$mark"
    [ "$bytes" -ge $((store_bytes / 2)) ]
}
wait_for 600 half_fetched || true
# wine-run became the Windows process itself: this kills the install, as a power cut would.
kill -KILL "$installer" 2>/dev/null || true
wait "$installer" 2>/dev/null || true
fetched_since "$mark"
killed_bytes=$bytes
mark=$(static_server_mark "$nginx_dir")
install full 1
fetched_since "$mark"
restart_bytes=$bytes
echo "killed after $killed_bytes bytes had been sent; the restart fetched $restart_bytes bytes"

echo "-- paced: 10 MB/s a connection, the store on its connections vs the package on one"
serve --rate 10m
fresh
mark=$(static_server_mark "$nginx_dir")
install full 1
paced_store=$(field seconds "$install_output")
fresh
install full 1 --full
paced_package=$(field seconds "$install_output")
fetched_since "$mark"
echo "store $paced_store s, package $paced_package s"
serve

echo "-- memory: a client of 1/8 the size through the store"
fresh
install small 1
peak_small=$(field peak_mib "$install_output")
fresh

cat <<EOF
== content store, measured in one run (targets in brackets)
update v1 → v2 fetched / full v2 package:    $update_bytes / $package_2 = $(ratio "$update_bytes" "$package_2" 4) [<= 0.01]
first install through the store, requests:    $first_requests on $first_connections connections [<= 1000]
update time / cp -r of the v1 client folder:  $update_seconds s / $copy_seconds s = $(ratio "$update_seconds" "$copy_seconds") [<= 1.5]
update time / CopyFileW copy under Wine:      $update_seconds s / $wine_copy_seconds s = $(ratio "$update_seconds" "$wine_copy_seconds")
paced 10 MB/s a connection, package / store:  $paced_package s / $paced_store s = $(ratio "$paced_package" "$paced_store" 2) [>= 3]
restart after a kill, fetched / store bytes:  $restart_bytes / $store_bytes = $(ratio "$restart_bytes" "$store_bytes") [<= 0.55] (killed after $killed_bytes)
peak working set, full / 1/8 client:          $peak_full MiB / $peak_small MiB [<= 64, flat]; the update $peak_update MiB
first install through the store:              $first_seconds s
EOF

# The same figures for scripts/benchmark's closing table.
emit() { python3 "$root/benchmarks/report.py" emit chunks "$@"; }
emit "update v1 → v2: bytes fetched (index and packs)" "$update_bytes" B \
    --reference "full v2 package" "$package_2" --max-ratio 0.01
emit "first install through the store: requests" "$first_requests" requests --max-value 1000
emit "update v1 → v2: wall time" "$update_seconds" s \
    --reference "native cp -r of the v1 client" "$copy_seconds" --max-ratio 1.5
emit "update v1 → v2: wall time" "$update_seconds" s \
    --reference "CopyFileW copy under Wine" "$wine_copy_seconds"
emit "first install at 10 MB/s a connection: package on one" "$paced_package" s \
    --reference "store on 4 connections" "$paced_store" --min-ratio 3
emit "restart after a kill at half way: bytes fetched" "$restart_bytes" B \
    --reference "store bytes of a first install" "$store_bytes" --max-ratio 0.55
emit "peak working set, first install, full client" "$peak_full" MiB --max-value 64
emit "peak working set, update v1 → v2" "$peak_update" MiB --max-value 64
# Flat in the client's size: a client 8 times the bytes may cost at most half as much memory again.
emit "peak working set, first install, full client" "$peak_full" MiB \
    --reference "1/8-size client" "$peak_small" --max-ratio 1.5
