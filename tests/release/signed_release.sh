#!/usr/bin/env bash
# An operator's signed release, made the way the README tells them: scripts/release with the
# example's hosts, a client package of the operator's own (the demo package under a path of its
# own, with its digest and version) and a code-signing certificate (a throw-away one, made here),
# built in a folder of its own and on another day than this build tree (faketime). The release must
# hold the launcher, the installer named after the version (and the package tool where the tree has
# it), a record of how it was built, and sums that match them; signing without a time stamp warns.
# The other release tests look at what this one leaves in WORK.
set -euo pipefail
source_dir=$1 build=$2 work=$3
source "$(dirname "$0")/certificates.sh"
rm -rf "$work"
make_throwaway_signer "$work/cert"

# The operator's client: the demo package, served by the install test under this path.
"$source_dir/scripts/make-demo-package" "$build" "$work/package" >/dev/null
digest=$(sha256sum "$work/package/TalvoPC.zip" | cut -d' ' -f1)
{
    cat "$source_dir/packaging/release-values.example"
    echo "LAUNCHER_CLIENT_PACKAGE_URL=http://127.0.0.1/K3ClientRes/exe/TalvoPC/release-test/TalvoPC.zip"
    echo "LAUNCHER_CLIENT_PACKAGE_SHA256=${digest^^}"
    echo "LAUNCHER_CLIENT_PACKAGE_VERSION=release-test-${digest:0:8}"
    echo "LAUNCHER_CLIENT_EXECUTABLE_PATH=TalvoPC/talvo-曜石纪元.exe"
} >"$work/values"

# At the lowest priority: the clean build runs beside the other tests and takes only the time they
# leave idle, so none of theirs waits on a busy processor.
RELEASE_WINE_BUILD="$build" RELEASE_BUILD_DIR="$work/build-on-another-day" nice -n 19 faketime '+3 days' \
    "$source_dir/scripts/release" \
    "$work/values" "$work/out" --sign "$work/cert/signer.pfx" --password-file "$work/cert/password" \
    --ca-file "$work/cert/ca.pem" 2>&1 | tee "$work/release.log"
[ "${PIPESTATUS[0]}" -eq 0 ] || exit 1
grep -q 'warning: no --timestamp-url' "$work/release.log" || {
    echo "FAIL: signing without a time stamp did not warn"
    exit 1
}

version4=$(sed -n 's/^project(Gatehouse VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")
expected=(SHA256SUMS BUILDINFO.txt Gatehouse.exe "曜石纪元-Setup-${version4%.0}.exe")
ninja -C "$build" -t query gatehouse-pack >/dev/null 2>&1 && expected+=(gatehouse-pack.exe)
actual=$(cd "$work/out" && ls | LC_ALL=C sort)
wanted=$(printf '%s\n' "${expected[@]}" | LC_ALL=C sort)
[ "$actual" = "$wanted" ] || {
    echo "FAIL: the release holds"$'\n'"$actual"$'\n'"expected"$'\n'"$wanted"
    exit 1
}
(cd "$work/out" && sha256sum --strict -c SHA256SUMS)
[ "$(wc -l <"$work/out/SHA256SUMS")" -eq $((${#expected[@]} - 1)) ] || {
    echo "FAIL: SHA256SUMS does not list every file"
    exit 1
}
# The record names what a rebuild needs: the commit, the values and the tools.
record=$(cat "$work/out/BUILDINFO.txt")
for line in "commit: $(git -C "$source_dir" rev-parse HEAD)" "values file sha256: $(sha256sum <"$work/values" | cut -d' ' -f1)" \
    'g++: x86_64-w64-mingw32-g++' 'cmake: cmake version ' 'ninja: ' 'makensis: v' 'osslsigncode: osslsigncode ' \
    'debian libz-mingw-w64-dev: ' 'debian nlohmann-json3-dev: ' 'tree: '; do
    grep -qF -- "$line" <<<"$record" || {
        echo "FAIL: BUILDINFO.txt lacks '$line':"$'\n'"$record"
        exit 1
    }
done
ls -l "$work/out"
echo "PASS: a signed release in $work/out"
