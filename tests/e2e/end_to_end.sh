#!/usr/bin/env bash
# The launcher's whole job, as a player does it: the real Gatehouse.exe under Wine, driven from
# outside with real key presses (and, from step 5 on, clicks), against the development server behind
# nginx, which serves the update channel's content store. Screenshots of every stage are kept in the
# output directory.
#   1. A first run downloads and installs the client, with the progress bar moving. An accessibility
#      client in a process of its own (tools/accessibility_client) reads the window's controls once
#      the client is ready, and listens to the live-region announcements from the start to step 3.
#   2. By keyboard alone: the account, Tab, a wrong password and Enter show the login failure in the
#      status line.
#   3. The password cleared and typed again, Tab to 进入游戏 and Space start the stand-in game with the
#      account's uid: and token:, and the launcher exits with code 0. What the accessibility client
#      heard holds the status line's sentences in order and the download's steps.
#   4. A second run finds the client ready and downloads nothing; Alt+F4 closes it with code 0.
#   5. A damaged installed file makes the launcher download the client again.
#   6. The demo build of the launcher, which follows the update channel, installs client version 2
#      from the content store, fetching from nginx only what version 1 lacks (a small part of the
#      package), and never the full package.
#   7. The diagnostic log tells what happened and holds no account, password or token.
set -euo pipefail
source_dir=$1 build=$2 output=$3
source "$source_dir/scripts/lib/wine-prefix.sh"
source "$source_dir/scripts/lib/x11-driver.sh"
source "$source_dir/scripts/lib/window-controls.sh"
source "$source_dir/scripts/lib/demo-services.sh"
wine_session_display "$build"
window_controls_of "$build"

title='曜石纪元 · 启动器'
run_name=gatehouse-end-to-end
run_dir="$build/wine/prefix/drive_c/$run_name"
client="$run_dir/GameClient"
game_dir="$client/TalvoPC"
data=$(wine_prefix_local_app_data "$build")/K3Gatehouse
logs=$data/Logs
log="$logs/launcher.log"
# The kept manifest and the chunk cache of earlier runs would change what this run fetches.
rm -rf "$run_dir" "$output" "$logs" "$data/Updates" "$data/Chunks"
mkdir -p "$output"
demo_prepare_run_dir "$build" "$run_dir" >"$output/package.txt"

# The package paced so that several frames of the download can be seen, and sign-ins answered a
# little late, as a distant service does, so that the wait is heard before its outcome (a client reads
# an announced name only once the event reaches it); the store is nginx's.
server_log="$output/demo-server.log"
demo_server_start_with_store "$run_dir/TalvoPC.zip" "$server_log" "$run_dir/updates/store" "$output/nginx" \
    --throttle 700000 --login-delay 0.5 --updates "$run_dir/updates"

launcher='' listener=''
stop_everything() {
    [ -z "$launcher" ] || kill "$launcher" 2>/dev/null || true
    [ -z "$listener" ] || kill "$listener" 2>/dev/null || true
    # The stand-in game is started by the launcher, not by us; find it by where it runs.
    pgrep -f "$run_name.GameClient" | xargs -r kill 2>/dev/null || true
    demo_server_stop
    wait 2>/dev/null || true
}
trap stop_everything EXIT

fail() {
    echo "FAIL: $*"
    echo "--- development server log"
    cat "$server_log"
    echo "--- nginx access log"
    cat "$output/nginx/access.log" 2>/dev/null || true
    exit 1
}

# Starts the launcher and waits for its window; log_mark is where its lines in the log begin.
start_launcher() {
    log_mark=$(file_mark "$log")
    "$build/wine-run" "$(prefix_windows_path "$build" "$run_dir/Gatehouse.exe")" &
    launcher=$!
    x11_wait_window "$title" 30 >/dev/null || fail "the launcher window did not appear"
}

# The accessibility client, run in the prefix like the launcher; the title may be Chinese, and Wine
# reads the command line in the locale's encoding.
accessibility_client() {
    LC_ALL=C.UTF-8 "$build/wine-run" "$build/tools/accessibility_client.exe" "$@"
}

# Starts listening to the launcher's announcements into $1, ready once the file exists.
start_listener() {
    rm -f "$1"
    accessibility_client listen "$title" "$(windows_path "$1")" 240 >"$output/listener.log" 2>&1 &
    listener=$!
    wait_for 20 test -f "$1" || fail "the accessibility client did not start listening"
}

# Waits for the launcher to end by itself within $1 seconds and checks its exit code is 0.
expect_launcher_exit() {
    local status=0
    wait_for "$1" process_gone "$launcher" || fail "the launcher did not close"
    wait "$launcher" || status=$?
    launcher=
    [ "$status" -eq 0 ] || fail "the launcher exited with code $status"
}

installed() { [ -f "$client/.launcher-installed.json" ]; }
game_started() { [ -f "$game_dir/standin-record.json" ]; }
downloads_seen() { [ "$(package_requests)" -ge "$1" ]; }
assets="$game_dir/talvo-曜石纪元_Data/resources.assets"
assets_repaired() { [ "$(stat -c %s "$assets" 2>/dev/null || echo 0)" -gt 1000 ]; }
logged_since_start() { has_new_line "$log" "$log_mark" "$1"; }
download_controls_gone() { ! control_visible progressBar; }

shot() { # name: saves the screen as NAME.png once it is still, and prints where
    x11_capture_settled "$output/$1.png"
    echo "screenshot $output/$1.png"
}
shot_now() { # name: the same while something moves
    x11_capture "$output/$1.png"
    echo "screenshot $output/$1.png"
}

package_requests() { grep -c ' package GET ' "$server_log" || true; }

# Pixels of the window's status line drawn in the error colour (red well above green).
status_error_pixels() {
    local x y width height
    read -r x y width height < <(control_rect statusLabel)
    convert "$1" -crop "${width}x${height}+$x+$y" -fx '(r-g)>0.16' -format '%[fx:int(mean*w*h)]' info:
}

bar_is_moving() { # the left end of the progress bar shows its gold colour
    local x y width height colour
    read -r x y width height < <(control_rect progressBar)
    colour=$(x11_pixel "$1" $((x + 3)) $((y + height / 2)))
    [ "$colour" = 177,141,75 ]
}

# Captures the screen as $1 and succeeds when its status line shows a failure.
failure_shown() {
    x11_capture "$1"
    [ "$(status_error_pixels "$1")" -gt 50 ]
}

# What the accessibility client reads of the ready window: the window's name, the status line's
# sentence, and the two edits, the account's holding the keyboard (no account is remembered). Wine's
# proxies read no annotations and give most controls the client role: the names the launcher gives
# its edits and glyph buttons are printed as Wine reads them, not asserted.
read_controls() {
    local reading="$output/accessibility-read.txt" control state
    accessibility_client read "$title" >"$reading" || fail "the accessibility client could not read the window"
    echo "the accessibility client read ($reading):"
    cat "$reading"
    # Prints field $2 (2 role, 3 name, 4 state) of control $1's line; fails when it has none.
    read_field() {
        awk -F'\t' -v id="$(control_id "$1")" -v field="$2" \
            '$1 == id && NF >= 4 { print $field; found = 1; exit } END { exit !found }' "$reading"
    }
    awk -F'\t' '$1 == "window" && index($2, "曜石纪元") == 1 { found = 1 } END { exit !found }' "$reading" ||
        fail "the window's accessible name does not start with 曜石纪元"
    for control in statusLabel accountEdit passwordEdit; do
        read_field "$control" 4 >/dev/null || fail "the accessibility client found no entry for $control"
    done
    [ "$(read_field statusLabel 3)" = "游戏下载完成，请点击进入游戏。" ] ||
        fail "the status line is read as '$(read_field statusLabel 3)'"
    state=$(read_field accountEdit 4)
    (((state & 0x4) != 0)) || fail "the account edit does not hold the keyboard (state $state)"
    for control in accountEdit:账号 passwordEdit:密码 minimiseButton:最小化 closeButton:关闭; do
        echo "not asserted: ${control%%:*} is read as '$(read_field "${control%%:*}" 3)'" \
            "(the launcher names it ${control#*:}; Wine's proxies read no annotations)"
    done
    echo "not asserted: roles, $(awk -F'\t' 'NF >= 4 { printf "%s%s=%s", sep, $1, $2; sep = " " }' "$reading")" \
        "(Wine's proxies give the edits the text role 42 and every other control the client role 10)"
}

# Judges what the accessibility client heard from step 1 to the launcher's end, once it has ended
# with the window; the recording is kept in the output directory.
judge_heard() {
    wait_for 15 process_gone "$listener" || fail "the accessibility client did not end with the window"
    wait "$listener" || fail "the accessibility client ended with code $? ($(cat "$output/listener.log"))"
    listener=
    # The login failure: the launcher's prefix and the development server's reason for a wrong password.
    python3 "$source_dir/tests/e2e/announcements_heard.py" "$1" \
        "$(control_id statusLabel)" "$(control_id progressBar)" \
        "游戏正在下载，完成后点击进入游戏。" "游戏下载完成，请点击进入游戏。" "正在验证账号，请稍候…" \
        "登录失败：账号或密码错误" "正在验证账号，请稍候…" "账号验证通过，正在启动游戏…" \
        -- "游戏已启动" "<gone>" || fail "the accessibility client did not hear what the launcher announces"
}

echo "== 1. first run: download and install"
heard="$output/announcements-heard.txt"
start_listener "$heard"
start_launcher
# Captures the screen until it shows the download's progress, or the download is over.
progress_or_installed() {
    x11_capture "$output/1-downloading.png"
    bar_is_moving "$output/1-downloading.png" || installed
}
wait_for 20 progress_or_installed || true
bar_is_moving "$output/1-downloading.png" || fail "no progress bar was seen during the first download"
echo "screenshot $output/1-downloading.png (progress bar moving)"
wait_for 30 installed || fail "the client was not installed"
[ "$(package_requests)" -eq 1 ] || fail "expected one package download, saw $(package_requests)"
wait_for 10 download_controls_gone || fail "the progress bar is still shown after the install"
shot 1-installed
bar_is_moving "$output/1-installed.png" && fail "the progress bar is still shown after the install"
read_controls

echo "== 2. wrong password, by keyboard alone"
# No remembered account: the account edit has the keyboard. Enter in an edit signs in.
x11_type_keys demo
xdotool key Tab
x11_type_keys wrong-password
xdotool key Return
wait_for 10 grep -q ' login .*code=0' "$server_log" ||
    fail "the wrong password never reached the login service"
wait_for 10 failure_shown "$output/2-wrong-password.png" ||
    fail "the status line does not show the failure in the error colour"
echo "screenshot $output/2-wrong-password.png"

echo "== 3. right password: the game starts and the launcher closes"
# The failure gives the keyboard back to the password edit once the form takes input again.
wait_for 10 control_enabled passwordEdit || fail "the form did not take input again after the failure"
xdotool key End
xdotool key --repeat 30 --delay 10 BackSpace
x11_type_keys demo123
# Password, then the eye button, the remember box and 进入游戏, which Space presses.
xdotool key --delay 50 Tab Tab Tab space
wait_for 30 game_started || fail "the stand-in game was not started"
expect_launcher_exit 30
shot 3-game-started
expected=$(python3 -c '
import json, sys
account = json.load(open(sys.argv[1]))["accounts"][0]
print("uid:" + account["userid"], "token:" + account["token"])' "$source_dir/tools/demo_accounts.json")
received=$(python3 -c '
import json, sys
print(*json.load(open(sys.argv[1], encoding="utf-8"))["arguments"][-2:])' "$game_dir/standin-record.json")
[ "$received" = "$expected" ] || fail "the game received '$received', expected '$expected'"
echo "the game received: $received"
pgrep -f "$run_name.GameClient" | xargs -r kill 2>/dev/null || true
judge_heard "$heard"

echo "== 4. second run: the client is ready, nothing is downloaded"
start_launcher
wait_for 15 logged_since_start ' check\.ready' || fail "the second run did not find the client ready"
shot 4-second-run
[ "$(package_requests)" -eq 1 ] || fail "the second run downloaded the client again"
bar_is_moving "$output/4-second-run.png" && fail "the second run shows a download"
xdotool key alt+F4
expect_launcher_exit 15

echo "== 5. a damaged installed file: the client is downloaded again"
truncate -s 1000 "$assets"
start_launcher
wait_for 10 downloads_seen 2 || fail "the damaged client was not downloaded again"
shot_now 5-downloading-again
wait_for 30 assets_repaired || fail "the damaged file was not replaced"
wait_for 10 download_controls_gone || fail "the progress bar is still shown after the repair"
shot 5-repaired
click_control closeButton
expect_launcher_exit 15

echo "== 6. the update channel: client version 2 from the content store"
demo_publish_update "$build" "$run_dir" >"$output/publish.txt" || fail "version 2 was not published"
cp "$build/update-demo/Gatehouse.exe" "$run_dir/Gatehouse.exe"
store_mark=$(static_server_mark "$output/nginx")
installed_version() {
    python3 -c 'import json, sys; print(json.load(open(sys.argv[1], encoding="utf-8"))["version"])' \
        "$client/.launcher-installed.json" 2>/dev/null || true
}
updated() { [ "$(installed_version)" = demo-2 ]; }
start_launcher
wait_for 30 updated || fail "client version 2 was not installed (installed: $(installed_version))"
wait_for 10 download_controls_gone || fail "the progress bar is still shown after the update"
shot 6-updated
[ -f "$game_dir/talvo-曜石纪元_Data/version-2.txt" ] || fail "version 2's new file is not installed"
click_control closeButton
expect_launcher_exit 15
read -r store_requests store_connections store_bytes < <(demo_store_fetched "$store_mark" | sed 's/[a-z]*=//g')
package_bytes=$(stat -c %s "$run_dir/updates/TalvoPC-2.zip")
echo "the update fetched $store_bytes bytes of the store in $store_requests requests on" \
    "$store_connections connections; the package is $package_bytes bytes"
# At least the index and one range of a pack; far less than the package, whose assets alone are 2 MiB.
[ "$store_requests" -ge 2 ] || fail "the update fetched nothing from the store"
[ $((store_bytes * 20)) -lt "$package_bytes" ] || fail "the update fetched 5% of the package or more"
! grep -q 'TalvoPC-2\.zip' "$server_log" "$output/nginx/access.log" ||
    fail "the update fetched the full package of version 2"

echo "== 7. the diagnostic log"
[ -f "$log" ] || fail "no diagnostic log at $log"
cp "$log" "$output/launcher.log"
token=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["accounts"][0]["token"])' \
    "$source_dir/tools/demo_accounts.json")
for secret in demo123 wrong-password "$token"; do
    ! grep -rqF -- "$secret" "$logs" || fail "the log holds the secret '$secret'"
done
# The account is "demo"; the demo package's own version and address say demo too.
! grep ' login ' "$log" | grep -qw demo || fail "the log holds the account name"
! grep -q 'path=[^ ]*?' "$log" || fail "the log holds an address's query"
for expected in 'launcher.start version=' 'login.reply code=0' 'login.reply code=1' 'game.window_found' \
    'check.not_ready reason="file missing, a link or of another size"' 'install.digest expected=' \
    'http.request method=GET scheme=http host=127.0.0.1 port=80 path=/K3ClientRes/'; do
    grep -qF -- "$expected" "$log" || fail "the log lacks '$expected'"
done
echo "diagnostic log: $log"

echo "--- development server log"
cat "$server_log"
echo "PASS: every stage behaved; screenshots are in $output"
