#!/usr/bin/env bash
# The player's side of the signed release, under Wine:
#   1. A silent install puts the launcher and its signed uninstaller into
#      %LOCALAPPDATA%\Programs\曜石纪元, with Start-menu and desktop shortcuts and an Apps & Features
#      entry, without asking for elevation.
#   2. The installed launcher starts and installs the game client beside itself: the operator's
#      package that the release was built with (the demo package under a path of its own, served by
#      the development server), with nothing beside the launcher to point it there.
#   3. Installing again over it keeps the downloaded client, the remembered account and a
#      launcher.config.json the site or the player changed, byte for byte.
#   4. An installer older than the installed launcher (which updated itself since) keeps that
#      launcher, and its entry shows the version installed.
#   5. A silent uninstall leaves nothing of the launcher behind, what its self-update left
#      beside it included, and keeps the client and the site's launcher.config.json.
#   6. The uninstaller's own pages, with the box for the client ticked, remove the client too,
#      without following a directory link inside it to the files it points to.
set -euo pipefail
source_dir=$1 build=$2 work=$3 newer_launcher=$4
source "$source_dir/scripts/lib/wine-prefix.sh"
source "$source_dir/scripts/lib/x11-driver.sh"
source "$source_dir/scripts/lib/window-controls.sh"
source "$source_dir/scripts/lib/demo-services.sh"
wine_session_display "$build"
# Chinese paths on Wine's command line.
export LC_ALL=C.UTF-8

installer=$(printf '%s\n' "$work"/out/曜石纪元-Setup-*.exe)
# The operator's package, as the signed-release test put it into the release's values.
value_of() { sed -n "s/^$1=//p" "$work/values"; }
package_path=$(value_of LAUNCHER_CLIENT_PACKAGE_URL | sed 's#^http://[^/]*##')
package_version=$(value_of LAUNCHER_CLIENT_PACKAGE_VERSION)
user=$(wine_prefix_user_dir "$build")
app="$user/AppData/Local/Programs/曜石纪元"
client="$app/GameClient"
# Run from C: as a player's shortcut does (drive Z: is a link, below which the launcher installs
# nothing).
app_windows=$(prefix_windows_path "$build" "$app")
shortcuts=("$user/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/曜石纪元.lnk" "$user/Desktop/曜石纪元.lnk")
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Gatehouse'
# Stands for the remembered account, which lives in the launcher's per-user folder.
keepsake="$user/AppData/Local/K3Gatehouse/release-test-keepsake"
version4=$(sed -n 's/^project(Gatehouse VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")
server_log="$work/demo-server.log"

# The build's prefix as wine-run sets it up, and without Wine's menu builder, which would copy the
# shortcuts into this machine's own menus. The uninstaller goes on in a copy of itself that would
# hold CTest's output open: programs write to a log instead.
wine() {
    wine_prefix_run "$build" 'winemenubuilder.exe=d' "$@" </dev/null >>"$work/wine.log" 2>&1
}
launcher=
stop_everything() {
    [ -z "$launcher" ] || kill "$launcher" 2>/dev/null || true
    pgrep -f 'Programs.曜石纪元.GameClient' | xargs -r kill 2>/dev/null || true
    # An uninstaller left on a page runs on from its copy in this prefix's temporary folder.
    local pid
    for pid in $(pgrep -f 'Un\.exe' || true); do
        grep -qzx "WINEPREFIX=$(wine_prefix_dir "$build")" "/proc/$pid/environ" 2>/dev/null && kill "$pid" 2>/dev/null
    done
    demo_server_stop
    wait 2>/dev/null || true
}
trap stop_everything EXIT
fail() {
    echo "FAIL: $*"
    [ ! -f "$server_log" ] || { echo "--- development server log" && cat "$server_log"; }
    exit 1
}
# Prints the Apps & Features entry as UTF-8 .reg text; fails when there is none.
uninstall_entry() {
    local file="$work/uninstall-entry.reg"
    rm -f "$file"
    wine reg export "$key" "$(windows_path "$file")" /y >/dev/null 2>&1 || return 1
    iconv -f UTF-16 -t UTF-8 "$file"
}
no_entry() { ! uninstall_entry >/dev/null; }
# A clean start: nothing of an earlier run of this test in the prefix.
rm -rf "$app" "$keepsake" "${shortcuts[@]}"
wine reg delete "$key" /f >/dev/null 2>&1 || true
# Wine links the prefix's desktop to this machine's home folder: the desktop shortcut belongs in
# the prefix.
[ ! -L "$user/Desktop" ] || { rm "$user/Desktop" && mkdir "$user/Desktop"; }
mkdir -p "$(dirname "$keepsake")"
echo remembered >"$keepsake"

echo "== 1. silent install"
wine "$installer" /S || fail "the silent install failed"
cmp "$app/Gatehouse.exe" "$work/out/Gatehouse.exe" || fail "the installed launcher is not the release's"
osslsigncode verify -CAfile "$work/cert/ca.pem" -in "$app/Uninstall.exe" >/dev/null 2>&1 ||
    fail "the installed uninstaller is missing or not signed"
for shortcut in "${shortcuts[@]}"; do
    strings -el "$shortcut" 2>/dev/null | grep -q 'Gatehouse\.exe' || fail "no shortcut to the launcher at $shortcut"
done
entry=$(uninstall_entry) || fail "no Apps & Features entry"
for value in '"DisplayName"="曜石纪元"' "\"DisplayVersion\"=\"${version4%.*}\"" '"Publisher"="曜石纪元"' \
    '"DisplayIcon"="C:\\users\\' 'Gatehouse.exe,0"' '"UninstallString"="\"C:\\users\\' \
    '"QuietUninstallString"="\"C:\\users\\' 'Uninstall.exe\" /S"' '"EstimatedSize"=dword:' \
    '"NoModify"=dword:00000001' '"NoRepair"=dword:00000001'; do
    grep -qF -- "$value" <<<"$entry" || fail "the Apps & Features entry lacks $value:"$'\n'"$entry"
done
echo "installed: $(ls "$app" | tr '\n' ' ')"

echo "== 2. the installed launcher installs the operator's client beside itself"
[ ! -e "$app/launcher.config.json" ] || fail "the installer wrote a launcher.config.json"
demo_server_start "$work/package/TalvoPC.zip" "$server_log" --package-path "$package_path"
wine "$app_windows\\Gatehouse.exe" &
launcher=$!
x11_wait_window '曜石纪元 · 启动器' 30 >/dev/null || fail "the installed launcher showed no window"
wait_for 60 test -f "$client/.launcher-installed.json" || fail "the client was not installed beside the launcher"
window_controls_of "$build"
click_control closeButton
wait_for 15 process_gone "$launcher" || fail "the launcher did not close"
launcher=
demo_server_stop
installed_version=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1], encoding="utf-8"))["version"])' \
    "$client/.launcher-installed.json")
[ "$installed_version" = "$package_version" ] ||
    fail "the installed client is version $installed_version, not the release's $package_version"
before=$(cd "$client" && find . -type f -printf '%p %s\n' | sort)
echo "client installed: version $installed_version, $(wc -l <<<"$before") files"

echo "== 3. installing again keeps the client, the account and a changed configuration"
# A site's own configuration beside the launcher, as it shipped it.
printf '{\r\n  "hideAfterLaunch": true, "gameTitle": "曜石纪元 · 本地"\r\n}\r\n' >"$app/launcher.config.json"
site_config=$(sha256sum <"$app/launcher.config.json")
wine "$installer" /S || fail "the install over the installed one failed"
[ "$(cd "$client" && find . -type f -printf '%p %s\n' | sort)" = "$before" ] || fail "the client changed"
[ -f "$keepsake" ] || fail "the remembered account is gone"
[ "$(sha256sum <"$app/launcher.config.json")" = "$site_config" ] || fail "the installer changed launcher.config.json"

echo "== 4. an older installer keeps a launcher that updated itself"
cp "$newer_launcher" "$app/Gatehouse.exe"
wine "$installer" /S || fail "the install over a newer launcher failed"
cmp -s "$app/Gatehouse.exe" "$newer_launcher" || fail "the installer put its older launcher over the newer one"
entry=$(uninstall_entry) || fail "no Apps & Features entry"
# The newer launcher's file version is 99.0.0.0.
grep -qF '"DisplayVersion"="99.0.0"' <<<"$entry" ||
    fail "the Apps & Features entry does not show the installed launcher's version:"$'\n'"$entry"
for shortcut in "${shortcuts[@]}"; do
    strings -el "$shortcut" 2>/dev/null | grep -q 'Gatehouse\.exe' || fail "no shortcut to the launcher at $shortcut"
done

echo "== 5. silent uninstall"
# A self-update that was cut off leaves the replaced build, a download and its lock beside the launcher.
for leftover in Gatehouse.exe.old Gatehouse.exe.new Gatehouse.exe.update.lock; do
    echo leftover >"$app/$leftover"
done
# The uninstaller runs on from a copy of itself in the temporary folder, so watch for its work.
wine "$app_windows\\Uninstall.exe" /S || fail "the silent uninstall failed"
wait_for 60 no_entry || fail "the Apps & Features entry is still there"
wait_for 30 test ! -e "$app/Uninstall.exe" || fail "the uninstaller is still there"
for shortcut in "${shortcuts[@]}"; do [ ! -e "$shortcut" ] || fail "the shortcut $shortcut is still there"; done
left=$(ls -A "$app" | grep -vx -e GameClient -e GameClient.install.lock -e launcher.config.json || true)
[ -z "$left" ] || fail "the uninstall left $left behind"
[ "$(cd "$client" && find . -type f -printf '%p %s\n' | sort)" = "$before" ] || fail "the client was not kept"
[ -f "$keepsake" ] || fail "the remembered account is gone"
[ "$(sha256sum <"$app/launcher.config.json" 2>/dev/null)" = "$site_config" ] ||
    fail "the uninstall removed or changed launcher.config.json"
rm "$app/launcher.config.json"

echo "== 6. uninstall through its pages, removing the client but nothing behind a link"
wine "$installer" /S || fail "the install for the last stage failed"
# A folder outside the install, linked from inside the client and from the staging and previous
# folders an interrupted install leaves (a Linux symbolic link in the prefix is a directory link
# to Windows programs, attributes 0x410).
outside="$work/outside-the-install"
rm -rf "$outside"
mkdir -p "$outside/deep"
echo kept >"$outside/kept.txt"
echo kept >"$outside/deep/kept.txt"
outside_files=$(cd "$outside" && find . -type f -printf '%p %s\n' | sort)
linked=(GameClient GameClient.install-0A1B2C GameClient.previous-0A1B2C)
for folder in "${linked[@]}"; do
    mkdir -p "$app/$folder/TalvoPC"
    echo part >"$app/$folder/TalvoPC/part.bin"
    ln -s "$outside" "$app/$folder/linked-folder"
done
wine "$app_windows\\Uninstall.exe" &
# Wine shows the caption with a trailing space.
x11_wait_window '曜石纪元 卸载 *' 30 >/dev/null || fail "the uninstaller showed no window"
# Its pages share one button for going on (id 1): next on the confirm page, uninstall on the
# components page, close on the last page. The components are a tree view (id 1032) whose second
# item is the client: focused by a click, chosen and ticked with the keys.
window_controls_of "$build" '#32770' '曜石纪元 卸载'
click_control 1
wait_for 15 control_visible 1032 || fail "the uninstaller did not show its components"
click_control 1032
xdotool key Home Down space
click_control 1
# Windows removes a directory link as an entry and then the folder that held it, so nothing is
# left. Wine 8 cannot remove the link entry (RemoveDirectoryW reaches the folder it points to,
# which is not empty): there each link and the folder holding it stay, and nothing else.
left_only_links() {
    [ ! -e "$app" ] && return 0
    [ "$(cd "$app" && find . -mindepth 1 | sort)" = "$(for folder in "${linked[@]}"; do
        printf './%s\n./%s/linked-folder\n' "$folder" "$folder"
    done | sort)" ]
}
wait_for 60 left_only_links || fail "the uninstall with the box ticked left $(cd "$app" && find . -mindepth 1)"
[ "$(cd "$outside" && find . -type f -printf '%p %s\n' | sort)" = "$outside_files" ] ||
    fail "the uninstall removed files behind a directory link: $(cd "$outside" && find . -type f)"
[ ! -e "$app" ] || echo "left as entries, as Wine leaves them: $(cd "$app" && find . -type l | sort | tr '\n' ' ')"
rm -rf "$app" "$outside"
wait_for 30 control_enabled 1 || fail "the uninstaller did not finish"
click_control 1
x11_wait_window_gone '曜石纪元 卸载 *' 15 || fail "the uninstaller did not close"
[ -f "$keepsake" ] || fail "the remembered account is gone"
rm -rf "$keepsake"
echo "PASS: installed, ran, upgraded and uninstalled as a player would see it"
