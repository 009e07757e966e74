#!/usr/bin/env bash
# A deployment value the launcher would refuse stops the release with the launcher's own reason,
# naming the value, before anything else is built, and nothing reaches the release folder. The
# check is this tree's own builtin_config_check.exe (a release compiles its own first). The value here: a plain-HTTP login address on a host other
# than the LAN login host.
set -euo pipefail
source_dir=$1 work=$2 build=$3
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

# This tree's checker judges, in this tree's Wine prefix: the release compiles nothing before it.
if message=$(RELEASE_WINE_BUILD="$build" RELEASE_CONFIG_CHECK_EXE="$build/tools/builtin_config_check.exe" \
    RELEASE_BUILD_DIR="$work/build" "$source_dir/scripts/release" "$work/values" "$work/out" 2>&1); then
    fail "the release was made:"$'\n'"$message"
fi
for expected in "LAUNCHER_LOGIN_PROXY_URL (loginProxyUrl) = $refused" "the launcher's reason: 登录接口配置无效。"; do
    grep -qF "$expected" <<<"$message" || fail "expected '$expected', got:"$'\n'"$message"
done
[ -z "$(ls -A "$work/out")" ] || fail "something was written to the release folder"
compiled=$(cd "$work/build" && find . -name '*.obj')
[ -z "$compiled" ] || fail "the release compiled before the check refused it:"$'\n'"$compiled"
echo "PASS: $(grep -F "the launcher's reason" <<<"$message")"
# Its Wine session ended with the release; the folder (a Wine prefix among it) is not needed again.
rm -rf "$work/build"
