#!/usr/bin/env bash
# A deployment value the launcher would refuse stops the release with the launcher's own reason,
# naming the value, before anything but the configuration rules and their check is compiled, and
# nothing reaches the release folder. The value here: a plain-HTTP login address on a host other
# than the LAN login host.
set -euo pipefail
source_dir=$1 work=$2
fail() {
    echo "FAIL: $*"
    exit 1
}
rm -rf "$work"
mkdir -p "$work/out"
refused=http://login.example.com:9915/api/GameLoginLog/GetUidTalvo
{
    cat "$source_dir/packaging/release-values.example"
    echo "LAUNCHER_LOGIN_PROXY_URL=$refused"
} >"$work/values"

if message=$(RELEASE_BUILD_DIR="$work/build" "$source_dir/scripts/release" "$work/values" "$work/out" 2>&1); then
    fail "the release was made:"$'\n'"$message"
fi
for expected in "LAUNCHER_LOGIN_PROXY_URL (loginProxyUrl) = $refused" "the launcher's reason: 登录接口配置无效。"; do
    grep -qF "$expected" <<<"$message" || fail "expected '$expected', got:"$'\n'"$message"
done
[ -z "$(ls -A "$work/out")" ] || fail "something was written to the release folder"
compiled=$(cd "$work/build" && find . -name '*.obj' | grep -vE '/(launcher_(foundation|filesystem|config)|builtin_config_check)\.dir/' || true)
[ -z "$compiled" ] || fail "more than the configuration's rules was compiled:"$'\n'"$compiled"
echo "PASS: $(grep -F "the launcher's reason" <<<"$message")"
# Its Wine session ended with the release; the folder (a Wine prefix among it) is not needed again.
rm -rf "$work/build"
