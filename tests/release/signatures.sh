#!/usr/bin/env bash
# Every executable of the signed release carries a SHA-256 Authenticode signature from the
# operator's certificate (trusted here for the check only), and one byte changed after signing
# makes the check fail.
set -euo pipefail
work=$1
verify() { osslsigncode verify -CAfile "$work/cert/ca.pem" -in "$1" 2>&1; }

for exe in "$work"/out/*.exe; do
    report=$(verify "$exe") || {
        echo "$report"
        echo "FAIL: $exe does not verify"
        exit 1
    }
    grep -q 'Message digest algorithm *: SHA256' <<<"$report" || {
        echo "$report"
        echo "FAIL: $exe is not signed with SHA-256"
        exit 1
    }
    echo "signed: $(basename "$exe")"
done

tampered="$work/tampered.exe"
cp "$work/out/Gatehouse.exe" "$tampered"
# One byte inside the code, well before the signature at the end.
byte=$(od -An -tu1 -j 8192 -N 1 "$tampered" | tr -d ' ')
printf "$(printf '\\%03o' $(((byte + 1) % 256)))" | dd of="$tampered" bs=1 seek=8192 conv=notrunc status=none
if report=$(verify "$tampered"); then
    echo "$report"
    echo "FAIL: a launcher changed after signing still verifies"
    exit 1
fi
echo "PASS: every executable verifies, and a changed byte is caught"
