#!/usr/bin/env python3
"""HTTPS server on loopback for the network tests, serving a login reply, a package body,
redirects, and under /files/ whatever the tests wrote into files/ of its working directory.
Standard library only."""
import argparse
import http.server
import json
import os
import ssl
import urllib.parse

PACKAGE = bytes(range(256)) * 4096  # 1 MiB


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, format, *args):
        pass

    def reply(self, status, body=b"", headers=()):
        self.send_response(status)
        self.send_header("Content-Length", str(len(body)))
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def login_reply(self, account):
        body = {"code": 1, "data": {"userid": "https-user", "token": "token-for-" + account, "game_id": "1",
                                    "username": account}}
        self.reply(200, json.dumps(body, ensure_ascii=False).encode(), [("Content-Type", "application/json")])

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        if url.path == "/api/GameLoginLog/GetUidTalvo":
            self.login_reply(urllib.parse.parse_qs(url.query).get("username", [""])[0])
        elif url.path == "/K3ClientRes/exe/TalvoPC/https.zip":
            self.reply(200, PACKAGE)
        elif url.path.startswith("/files/"):
            try:
                with open(os.path.join("files", os.path.basename(url.path)), "rb") as served:
                    self.reply(200, served.read())
            except OSError:
                self.reply(404)
        elif url.path == "/redirect-to-https.zip":
            self.reply(302, headers=[("Location", "/K3ClientRes/exe/TalvoPC/https.zip")])
        elif url.path == "/redirect-to-http.zip":
            self.reply(302, headers=[("Location", "http://127.0.0.1/forbidden/TalvoPC.zip")])
        elif url.path == "/redirect-to-package-host.zip":
            self.reply(302, headers=[("Location", "http://127.0.0.1/K3ClientRes/exe/TalvoPC/plain.zip")])
        else:
            self.reply(404)

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        body = json.loads(self.rfile.read(length))
        self.login_reply(body.get("username", ""))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--pid-file", required=True)
    args = parser.parse_args()
    server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(args.cert, args.key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    with open(args.pid_file, "w") as out:
        out.write(str(os.getpid()))
    server.serve_forever()


if __name__ == "__main__":
    main()
