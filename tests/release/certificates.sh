# shellcheck shell=bash
# Throw-away code-signing certificates for the release tests. Sourced.

# Makes in folder $1 a CA trusted for the checks only (ca.pem, ca.key) and a code-signing
# certificate it issued (signer.pem, its key signer.key), and the same in a PFX (signer.pfx) whose
# password is in the file `password`. Prints openssl's output only when it fails.
make_throwaway_signer() {
    mkdir -p "$1"
    (
        cd "$1"
        openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 30 \
            -subj "/CN=Gatehouse Throw-away CA" -addext basicConstraints=critical,CA:TRUE \
            -addext keyUsage=critical,keyCertSign
        openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr -subj "/CN=Gatehouse Test Signer"
        printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >signer.ext
        openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 30 -extfile signer.ext \
            -out signer.pem
        printf 'throw-away %s\n' "$(openssl rand -hex 8)" >password
        openssl pkcs12 -export -inkey signer.key -in signer.pem -certfile ca.pem -passout file:password -out signer.pfx
    ) >"$1/openssl.log" 2>&1 || {
        cat "$1/openssl.log"
        return 1
    }
}
