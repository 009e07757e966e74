#!/usr/bin/env bash
# A winhttp.dll planted beside the launcher, as a Downloads folder may hold one: the launcher
# copied beside it starts, checks its client and asks the package server for it through the
# system's WinHTTP, and the planted DLL is never loaded (it would leave winhttp.dll.loaded).
#
# Wine loads its own builtin winhttp even when a native one lies in the application folder;
# Windows takes the one in the application folder, as for any DLL that is not a known DLL. The
# launcher runs with WINEDLLOVERRIDES=winhttp=n,b, which gives Wine that Windows search order.
# Only winhttp is planted: Wine's builtin DLLs resolve their own delay-loaded imports (crypt32 by
# winhttp, for one) beside the executable regardless of the process's DLL directories, where
# Windows keeps to System32, so a planted crypt32.dll would show Wine's loader, not the launcher's.
set -euo pipefail
source_dir=$1 build=$2 planted=$3 output=$4
source "$source_dir/scripts/lib/wine-prefix.sh"
source "$source_dir/scripts/lib/waiting.sh"
source "$source_dir/scripts/lib/demo-services.sh"
wine_session_display "$build"

run_name=gatehouse-planted-dll
run_dir="$build/wine/prefix/drive_c/$run_name"
rm -rf "$run_dir" "$output"
mkdir -p "$run_dir" "$output"
cp "$build/Gatehouse.exe" "$run_dir/"
cp "$planted" "$run_dir/winhttp.dll"

stop_everything() {
    pgrep -f "$run_name" | xargs -r kill 2>/dev/null || true
    demo_server_stop
    wait 2>/dev/null || true
}
trap stop_everything EXIT
# No package on the server: the built-in configuration's download is answered 404.
server_log="$output/demo-server.log"
demo_server_start "" "$server_log"

# Without Wine's debugger: a launcher that aborts (a planted DLL lacks WinHTTP's functions) just ends.
wine_prefix_run "$build" 'winhttp=n,b;winedbg.exe=d' "$(prefix_windows_path "$build" "$run_dir/Gatehouse.exe")" \
    </dev/null >"$output/wine.log" 2>&1 &
# The built-in configuration's package address, asked for through WinHTTP.
asked() { grep -qE ' package GET /K3ClientRes/exe/TalvoPC/[^ ]+\.zip -> 404' "$server_log"; }
wait_for 30 asked || true
stop_everything

status=0
# Named after the module as the loader wrote it, in whatever letter case.
if [ -n "$(find "$run_dir" -maxdepth 1 -iname winhttp.dll.loaded)" ]; then
    echo "FAIL: the winhttp.dll beside the launcher was loaded"
    status=1
fi
if ! asked; then
    echo "FAIL: the launcher did not ask the package server for the client"
    echo "--- development server log" && cat "$server_log"
    echo "--- Wine's output" && cat "$output/wine.log"
    status=1
fi
[ $status -ne 0 ] || echo "PASS: the launcher did its job through System32's WinHTTP; the planted DLL stayed unloaded"
exit $status
