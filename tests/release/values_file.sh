#!/usr/bin/env bash
# A values file with a name scripts/release does not know (a typo of a real one) is refused with
# that name before anything is built, so a misspelt host never ships as the default.
set -euo pipefail
source_dir=$1 work=$2
rm -rf "$work"
mkdir -p "$work/out"
printf 'LAUNCHER_PACKAGE_HOST=download.example.com\nLAUNCHER_PAKAGE_HOST=typo.example.com\n' >"$work/values"
if message=$("$source_dir/scripts/release" "$work/values" "$work/out" 2>&1); then
    echo "FAIL: the release was made:"$'\n'"$message"
    exit 1
fi
grep -q 'values:2: unknown variable LAUNCHER_PAKAGE_HOST' <<<"$message" || {
    echo "FAIL: the refusal does not name the line and the variable:"$'\n'"$message"
    exit 1
}
[ -z "$(ls -A "$work/out")" ] || {
    echo "FAIL: something was written to the release folder"
    exit 1
}
echo "PASS: $message"
