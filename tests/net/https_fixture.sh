#!/usr/bin/env bash
# Test HTTPS service on loopback:
#   https_fixture.sh start DIR PORT TRUST...   make a throw-away CA and a certificate for
#                         localhost, have the command TRUST... (given the CA's path as one more
#                         argument) trust the CA in the test prefix, then start the test server.
#                         PORT+1 serves a self-signed certificate nobody trusts, PORT+2 one from
#                         the trusted CA for another name: both must be refused.
#   https_fixture.sh stop DIR         stop those servers
# The key pairs are made fresh for every run and live only in the build tree.
set -euo pipefail
action=${1:?usage: https_fixture.sh start DIR PORT | stop DIR}
dir=${2:?usage: https_fixture.sh start DIR PORT | stop DIR}
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/lib/wine-prefix.sh"
source "$here/../../scripts/lib/waiting.sh"

stop_server() {
    local pid_file
    for pid_file in "$dir"/*server.pid; do
        [ -f "$pid_file" ] || continue
        kill "$(cat "$pid_file")" 2>/dev/null || true
        rm -f "$pid_file"
    done
}

accepts() { python3 -c "import socket,sys; socket.create_connection(('127.0.0.1', $1), 0.2)" 2>/dev/null; }

# start_server NAME PORT: serves NAME.pem / NAME.key on PORT and waits until it accepts.
start_server() {
    setsid python3 "$here/https_test_server.py" --port "$2" --cert "$1.pem" --key "$1.key" \
        --pid-file "$1.pid" </dev/null >"$1.log" 2>&1 &
    wait_for 10 accepts "$2" && return 0
    echo "HTTPS test server $1 did not start:" >&2
    cat "$1.log" >&2
    exit 1
}

case "$action" in
start)
    port=${3:?usage: https_fixture.sh start DIR PORT TRUST...}
    shift 3
    stop_server
    rm -rf "$dir"
    mkdir -p "$dir"
    cd "$dir"
    openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 \
        -subj "/CN=Gatehouse test CA" -addext "basicConstraints=critical,CA:TRUE" \
        -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
    openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj "/CN=localhost" 2>/dev/null
    printf 'subjectAltName=DNS:localhost,DNS:127.0.0.1\nextendedKeyUsage=serverAuth\n' >server.ext
    openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 2 \
        -extfile server.ext 2>/dev/null
    openssl req -x509 -newkey rsa:2048 -nodes -keyout untrusted-server.key -out untrusted-server.pem -days 2 \
        -subj "/CN=localhost" -addext "subjectAltName=DNS:localhost,DNS:127.0.0.1" 2>/dev/null
    openssl req -newkey rsa:2048 -nodes -keyout misnamed-server.key -out misnamed-server.csr \
        -subj "/CN=other.invalid" 2>/dev/null
    printf 'subjectAltName=DNS:other.invalid\nextendedKeyUsage=serverAuth\n' >misnamed-server.ext
    openssl x509 -req -in misnamed-server.csr -CA ca.pem -CAkey ca.key -CAcreateserial \
        -out misnamed-server.pem -days 2 -extfile misnamed-server.ext 2>/dev/null
    openssl x509 -in ca.pem -outform DER -out ca.der
    "$@" "$(windows_path "$dir/ca.der")"
    start_server server "$port"
    start_server untrusted-server $((port + 1))
    start_server misnamed-server $((port + 2))
    ;;
stop)
    stop_server
    ;;
esac
