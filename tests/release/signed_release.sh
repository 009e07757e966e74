#!/usr/bin/env bash
# An operator's signed release, made the way the README tells them: scripts/release with the
# example values and a code-signing certificate (a throw-away one, made here), built in a folder
# of its own and on another day than this build tree (faketime). The release must hold the
# launcher, the installer (and the package tool where the tree has it) and sums that match them.
# The other release tests look at what this one leaves in WORK.
set -euo pipefail
source_dir=$1 build=$2 work=$3
rm -rf "$work"
mkdir -p "$work/cert"

# A CA trusted for the checks only, and a code-signing certificate it issued, in a PFX.
(
    cd "$work/cert"
    openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 30 \
        -subj "/CN=Gatehouse Throw-away CA" -addext basicConstraints=critical,CA:TRUE \
        -addext keyUsage=critical,keyCertSign
    openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr -subj "/CN=Gatehouse Test Signer"
    printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >signer.ext
    openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 30 -extfile signer.ext \
        -out signer.pem
    printf 'throw-away %s\n' "$(openssl rand -hex 8)" >password
    openssl pkcs12 -export -inkey signer.key -in signer.pem -certfile ca.pem -passout file:password -out signer.pfx
) >"$work/cert/openssl.log" 2>&1 || {
    cat "$work/cert/openssl.log"
    exit 1
}

RELEASE_BUILD_DIR="$work/build-on-another-day" faketime '+3 days' "$source_dir/scripts/release" \
    "$source_dir/packaging/release-values.example" "$work/out" \
    --sign "$work/cert/signer.pfx" --password-file "$work/cert/password"

expected=(SHA256SUMS Gatehouse.exe 曜石纪元-Setup.exe)
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
ls -l "$work/out"
echo "PASS: a signed release in $work/out"
