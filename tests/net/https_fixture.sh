#!/usr/bin/env bash
# Test HTTPS service on loopback:
#   https_fixture.sh start DIR PORT TRUST...   make a throw-away CA and a certificate for
#                         localhost, have the command TRUST... (given the CA's path as one more
#                         argument) trust the CA in the test prefix, then start the test server
#   https_fixture.sh stop DIR         stop that server
# The key pairs are made fresh for every run and live only in the build tree.
set -euo pipefail
action=${1:?usage: https_fixture.sh start DIR PORT | stop DIR}
dir=${2:?usage: https_fixture.sh start DIR PORT | stop DIR}
here=$(cd "$(dirname "$0")" && pwd)

stop_server() {
    if [ -f "$dir/server.pid" ]; then
        kill "$(cat "$dir/server.pid")" 2>/dev/null || true
        rm -f "$dir/server.pid"
    fi
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
    openssl x509 -in ca.pem -outform DER -out ca.der
    "$@" "Z:${dir//\//\\}\\ca.der"
    setsid python3 "$here/https_test_server.py" --port "$port" --cert server.pem --key server.key \
        --pid-file server.pid </dev/null >server.log 2>&1 &
    for _ in $(seq 100); do
        if python3 -c "import socket,sys; socket.create_connection(('127.0.0.1', $port), 0.2)" 2>/dev/null; then
            exit 0
        fi
        sleep 0.1
    done
    echo "HTTPS test server did not start:" >&2
    cat server.log >&2
    exit 1
    ;;
stop)
    stop_server
    ;;
esac
