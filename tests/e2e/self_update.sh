#!/usr/bin/env bash
# The launcher replacing itself from the update channel, as a player's PC sees it: the demo
# launcher (update channel on the development server) finds a signed manifest offering a newer
# launcher build, downloads it, puts it in place of Gatehouse.exe, starts it and closes; the new
# build starts from the same place and follows the same manifest without replacing itself again,
# and the next start removes the replaced build.
set -euo pipefail
source_dir=$1 build=$2 output=$3
source "$source_dir/scripts/lib/wine-prefix.sh"
source "$source_dir/scripts/lib/waiting.sh"
source "$source_dir/scripts/lib/demo-services.sh"
wine_session_display "$build"

run_name=gatehouse-self-update
run_dir="$build/wine/prefix/drive_c/$run_name"
updates="$output/updates"
logs=$(wine_prefix_local_app_data "$build")/K3Gatehouse
rm -rf "$run_dir" "$output" "$logs/Logs" "$logs/Updates"
mkdir -p "$output" "$updates"
demo_prepare_run_dir "$build" "$run_dir" >"$output/package.txt"
cp "$build/update-demo/Gatehouse.exe" "$run_dir/Gatehouse.exe"
next="$build/update-demo-next/Gatehouse.exe"

cp "$run_dir/TalvoPC.zip" "$updates/TalvoPC.zip"
cp "$next" "$updates/Gatehouse-next.exe"
base=http://127.0.0.1/K3ClientRes/exe/TalvoPC/update
"$build/wine-run" "$build/gatehouse-pack.exe" publish "$(windows_path "$updates/TalvoPC.zip")" \
    --key "$(windows_path "$source_dir/tools/demo-update-key.json")" \
    --manifest "$(windows_path "$updates/manifest.signed")" \
    --executable 'TalvoPC/talvo-曜石纪元.exe' --version demo-1 --url "$base/TalvoPC.zip" \
    --config "$(windows_path "$run_dir/launcher.config.json")" \
    --launcher "$(windows_path "$next")" --launcher-version 99.0.0.0 --launcher-url "$base/Gatehouse-next.exe" \
    >"$output/publish.txt"

server_log="$output/demo-server.log"
demo_server_start "$run_dir/TalvoPC.zip" "$server_log" --updates "$updates"
stop_everything() {
    pgrep -f "$run_name" | xargs -r kill 2>/dev/null || true
    demo_server_stop
    wait 2>/dev/null || true
}
trap stop_everything EXIT
fail() {
    echo "FAIL: $*"
    echo "--- development server log"
    cat "$server_log"
    echo "--- launcher log"
    cat "$logs/Logs/launcher.log" 2>/dev/null || true
    exit 1
}

"$build/wine-run" "$(prefix_windows_path "$build" "$run_dir/Gatehouse.exe")" &
first=$!
replaced() { cmp -s "$run_dir/Gatehouse.exe" "$next"; }
new_build_started() { grep -q 'launcher.start version=99.0.0.0' "$logs/Logs/launcher.log" 2>/dev/null; }
wait_for 60 replaced || fail "Gatehouse.exe was not replaced by the offered build"
wait_for 60 new_build_started || fail "the new build did not start"
wait_for 30 process_gone "$first" || fail "the replaced launcher did not close"
# The new build follows the same manifest and checks the client, without replacing itself again.
accepted_twice() { [ "$(grep -c ' update.accepted ' "$logs/Logs/launcher.log")" -ge 2 ]; }
wait_for 60 accepted_twice || fail "the new build did not follow the manifest"
wait_for 60 grep -q ' install.done' "$logs/Logs/launcher.log" ||
    fail "the new build did not install the client the manifest names"
[ "$(grep -c ' update.launcher_replaced ' "$logs/Logs/launcher.log")" -eq 1 ] ||
    fail "the launcher was replaced more than once"
[ ! -e "$run_dir/Gatehouse.exe.new" ] || fail "a downloaded build was left as Gatehouse.exe.new"
# Support can tell from the log which build ran, that it followed the channel with which key, and
# that it downloaded the next build.
demo_key=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["publicKey"])' \
    "$source_dir/tools/demo-update-key.json")
fingerprint=$(printf %s "$demo_key" | sha256sum | cut -c1-16)
digest=$(sha256sum "$build/update-demo/Gatehouse.exe" | cut -c1-64 | tr a-f A-F)
tr -d '\r' <"$logs/Logs/launcher.log" >"$output/launcher.log"
grep -q " launcher.start version=.* updates=on keys=$fingerprint sha256=$digest\$" "$output/launcher.log" ||
    fail "the first start did not log its channel, key and digest"
grep -q " update.launcher_download from=.* to=99.0.0.0\$" "$output/launcher.log" ||
    fail "the launcher download was not logged as what it is"
# The replaced build is still closing while the new one starts; the next start removes it.
pgrep -f "$run_name" | xargs -r kill 2>/dev/null || true
"$build/wine-run" "$(prefix_windows_path "$build" "$run_dir/Gatehouse.exe")" &
old_removed() { [ ! -e "$run_dir/Gatehouse.exe.old" ]; }
wait_for 30 old_removed || fail "the next start left the replaced build as Gatehouse.exe.old"
[ "$(grep -c ' package GET .*Gatehouse-next.exe' "$server_log")" -eq 1 ] ||
    fail "expected exactly one download of the new build"
echo "self-update test passed"
