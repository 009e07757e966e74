#!/usr/bin/env bash
# Signing as packaging/sign-executable does it for a release, on one small executable:
#   token        a key on a hardware token (SoftHSM standing in for it, through PKCS#11 and OpenSSL's
#                pkcs11 engine) signs, with the PIN read from a file, and the signature verifies
#   unverified   a signature that does not verify (the PFX's CA is not the one the release trusts)
#                fails the signing and leaves the executable as it was
set -euo pipefail
source_dir=$1 executable=$2 work=$3 mode=$4
source "$(dirname "$0")/certificates.sh"
fail() {
    echo "FAIL: $*"
    exit 1
}
rm -rf "$work"
make_throwaway_signer "$work/cert"
signed="$work/signed.exe"
cp "$executable" "$signed"

case $mode in
token)
    module=/usr/lib/softhsm/libsofthsm2.so
    if ! command -v softhsm2-util >/dev/null || [ ! -f "$module" ] ||
        [ ! -f "$(openssl version -e | sed -n 's/^ENGINESDIR: "\(.*\)"$/\1/p')/pkcs11.so" ]; then
        echo "SKIPPED: softhsm2 and libengine-pkcs11-openssl are not installed (scripts/setup installs them)"
        exit 77
    fi
    # A token holding the certificate's key, behind a PIN.
    mkdir -p "$work/tokens"
    printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' "$work/tokens" \
        >"$work/softhsm2.conf"
    export SOFTHSM2_CONF="$work/softhsm2.conf"
    pin=$(openssl rand -hex 4)
    softhsm2-util --init-token --free --label gatehouse-test --pin "$pin" --so-pin "$(openssl rand -hex 4)" >/dev/null
    softhsm2-util --import "$work/cert/signer.key" --token gatehouse-test --label release-signer --id 01 \
        --pin "$pin" >/dev/null
    printf '%s' "$pin" >"$work/pin"
    RELEASE_SIGN_PKCS11_MODULE=$module RELEASE_SIGN_CERTIFICATE="$work/cert/signer.pem" \
        RELEASE_SIGN_PKCS11_KEY='pkcs11:token=gatehouse-test;object=release-signer;type=private' \
        RELEASE_SIGN_PASSWORD_FILE="$work/pin" RELEASE_SIGN_CA_FILE="$work/cert/ca.pem" \
        "$source_dir/packaging/sign-executable" "$signed" || fail "the token's key did not sign"
    report=$(osslsigncode verify -CAfile "$work/cert/ca.pem" -in "$signed" 2>&1) ||
        fail "the signature does not verify:"$'\n'"$report"
    grep -q 'Gatehouse Test Signer' <<<"$report" || fail "the signature is not the token's certificate's:"$'\n'"$report"
    echo "PASS: the key on the token signed $(basename "$executable"), and the signature verifies"
    ;;
unverified)
    make_throwaway_signer "$work/other-ca"
    if message=$(RELEASE_SIGN_CERT="$work/cert/signer.pfx" RELEASE_SIGN_PASSWORD_FILE="$work/cert/password" \
        RELEASE_SIGN_CA_FILE="$work/other-ca/ca.pem" "$source_dir/packaging/sign-executable" "$signed" 2>&1); then
        fail "a signature that does not verify against the trusted CA was kept"
    fi
    grep -q 'does not verify' <<<"$message" || fail "the refusal does not say why:"$'\n'"$message"
    cmp -s "$signed" "$executable" || fail "the executable was changed although its signature did not verify"
    [ ! -e "$signed.signed" ] || fail "the signed copy was left behind"
    echo "PASS: $(tail -n 1 <<<"$message")"
    ;;
*) fail "unknown mode $mode" ;;
esac
