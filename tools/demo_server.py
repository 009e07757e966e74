#!/usr/bin/env python3
"""Local stand-ins for the two services the launcher talks to, for development and demos.

The login service answers the launcher's sign-in request from a small accounts file, in any of the
reply shapes the launcher understands; the package server hands out the client package, optionally
slowly or behind a redirect, so download, verification and installation can be watched on one
machine without the real servers.
"""

import argparse
import datetime
import http.server
import json
import os
import queue
import signal
import socket
import socketserver
import sys
import threading
import time
import urllib.parse
from pathlib import Path

LOGIN_PATH = "/api/GameLoginLog/GetUidTalvo"
DEFAULT_PACKAGE_PATH = "/K3ClientRes/exe/TalvoPC/demo/TalvoPC.zip"
REDIRECT_PATH = "/K3ClientRes/exe/TalvoPC/redirect/TalvoPC.zip"
UPDATE_PATH = "/K3ClientRes/exe/TalvoPC/update/"
# Update files are cached as the README's "Hosting" asks: a package or launcher build never changes
# under its address, while the manifest and its signature must reach launchers at once.
UNCHANGING_SUFFIXES = (".zip", ".exe")
UNCHANGING_CACHE = "public, max-age=31536000, immutable"
MANIFEST_CACHE = "no-cache"
DEFAULT_ACCOUNTS = Path(__file__).resolve().parent / "demo_accounts.json"
SHAPES = ("flat", "nested", "fail-msg", "fail-message")
REPLY_FIELDS = ("userid", "token", "game_id", "username")
WRONG_CREDENTIALS = "账号或密码错误"
MAINTENANCE = "服务器维护中，请稍后再试"
CHUNK_BYTES = 64 * 1024
MAX_LOGIN_BODY = 64 * 1024
WILDCARD_HOSTS = ("", "0.0.0.0", "::")

_log_lock = threading.Lock()


def log(message):
    stamp = datetime.datetime.now().strftime("%Y-%m-%dT%H:%M:%S")
    with _log_lock:
        sys.stdout.write(f"{stamp} {message}\n")
        sys.stdout.flush()


def printable(text):
    """Quotes text that would otherwise break the one-line-per-request log."""
    if text and all(c.isprintable() and not c.isspace() for c in text):
        return text
    return json.dumps(text, ensure_ascii=False)


def query_fields(query):
    """Splits a query string, first occurrence winning. A '+' stays a plus sign: the launcher
    encodes a space as %20, so decoding '+' as a space would reject passwords that contain one."""
    fields = {}
    for part in query.split("&"):
        if part:
            name, _, value = part.partition("=")
            fields.setdefault(urllib.parse.unquote(name), urllib.parse.unquote(value))
    return fields


def load_accounts(path):
    """Reads the accounts file into a map from account name to its entry."""
    try:
        document = json.loads(Path(path).read_text(encoding="utf-8-sig"))
    except OSError as error:
        raise ValueError(f"cannot read accounts file {path}: {error.strerror or error}") from error
    except ValueError as error:
        raise ValueError(f"accounts file {path} is not valid JSON: {error}") from error
    entries = document.get("accounts") if isinstance(document, dict) else None
    if not isinstance(entries, list) or not entries:
        raise ValueError(f'accounts file {path} needs a non-empty "accounts" list')
    accounts = {}
    for index, entry in enumerate(entries):
        where = f"accounts file {path}, entry {index}"
        if not isinstance(entry, dict):
            raise ValueError(f"{where} is not an object")
        for name in ("account", "password"):
            if not isinstance(entry.get(name), str):
                raise ValueError(f'{where} needs a string "{name}"')
        missing = [name for name in REPLY_FIELDS if name not in entry]
        if missing:
            raise ValueError(f"{where} lacks {', '.join(missing)}")
        if entry["account"] in accounts:
            raise ValueError(f'{where} repeats account "{entry["account"]}"')
        accounts[entry["account"]] = entry
    return accounts


class DemoState:
    """What both servers share: settings, the current reply shape and the stop flag."""

    def __init__(self, args, accounts):
        self.accounts = accounts
        self.package = args.package
        self.package_path = args.package_path
        self.throttle = args.throttle
        self.login_delay = args.login_delay
        self.redirect = args.redirect
        self.updates = args.updates
        self.location = ""
        self.stopping = threading.Event()
        self._shape = SHAPES.index(args.reply_shape)
        self._lock = threading.Lock()

    @property
    def shape(self):
        with self._lock:
            return SHAPES[self._shape]

    def next_shape(self):
        with self._lock:
            self._shape = (self._shape + 1) % len(SHAPES)
            return SHAPES[self._shape]


class DemoHTTPServer(http.server.ThreadingHTTPServer):
    """Keeps track of its open connections so that stopping can cut idle keep-alive clients and
    slow downloads short, and then wait for every request to finish and log its outcome."""

    daemon_threads = False  # joined by server_close(), so no request is cut off unlogged at exit

    def __init__(self, address, handler, state, label):
        self.state = state
        self.label = label
        self.connections = set()
        self.connections_lock = threading.Lock()
        self.address_family = socket.AF_INET6 if ":" in address[0] else socket.AF_INET
        super().__init__(address, handler)

    def server_bind(self):
        # HTTPServer.server_bind looks the host name up, which stalls on a machine without DNS.
        socketserver.TCPServer.server_bind(self)
        self.server_name, self.server_port = self.server_address[:2]

    def process_request(self, request, client_address):
        with self.connections_lock:
            self.connections.add(request)
        super().process_request(request, client_address)

    def shutdown_request(self, request):
        with self.connections_lock:
            self.connections.discard(request)
        super().shutdown_request(request)

    def drop_connections(self):
        with self.connections_lock:
            connections = list(self.connections)
        for connection in connections:
            try:
                connection.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    def handle_error(self, request, client_address):
        # A client that goes away between requests is routine; anything else keeps its traceback.
        if isinstance(sys.exc_info()[1], (ConnectionError, TimeoutError)):
            return
        super().handle_error(request, client_address)


class DemoHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "GatehouseDemo/1.0"
    timeout = 60  # a client that stalls must not hold its thread for ever

    def log_message(self, format, *args):
        # Each request is logged once, in this program's own format, by note().
        pass

    def send_error(self, code, message=None, explain=None):
        # Reached only from http.server's own checks: a bad request line, an unknown method.
        self.note(str(code))
        super().send_error(code, message, explain)

    def note(self, outcome, detail=""):
        # Written before a short reply goes out, so a client's requests are logged in its order.
        # The query is left out: on the login service it holds the password.
        path = urllib.parse.urlsplit(getattr(self, "path", "") or "").path or "-"
        words = [self.server.label, getattr(self, "command", None) or "-", printable(path)]
        if detail:
            words.append(detail)
        log(" ".join(words + ["->", outcome]))

    def reply(self, status, body, content_type="text/plain; charset=utf-8", headers=()):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def not_found(self):
        self.note("404")
        self.reply(404, b"not found\n")


class LoginHandler(DemoHandler):
    def do_GET(self):
        target = urllib.parse.urlsplit(self.path)
        if target.path != LOGIN_PATH:
            return self.not_found()
        fields = query_fields(target.query)
        self.sign_in(fields.get("username"), fields.get("password"))

    def do_POST(self):
        body = self.read_body()
        if body is None:
            return
        if urllib.parse.urlsplit(self.path).path != LOGIN_PATH:
            return self.not_found()
        try:
            fields = json.loads(body.decode("utf-8"))
        except ValueError:  # UnicodeDecodeError is a ValueError too
            fields = None
        if not isinstance(fields, dict):
            return self.bad_request("body is not a JSON object")
        self.sign_in(fields.get("username"), fields.get("password"))

    def read_body(self):
        if "chunked" in self.headers.get("Transfer-Encoding", "").lower():
            self.close_connection = True
            self.note("411 chunked body")
            self.reply(411, b"send the body with a Content-Length\n", headers=[("Connection", "close")])
            return None
        try:
            length = int(self.headers.get("Content-Length", "0"))
        except ValueError:
            length = -1
        if not 0 <= length <= MAX_LOGIN_BODY:
            self.close_connection = True
            self.note("400 bad Content-Length")
            self.reply(400, b"bad Content-Length\n", headers=[("Connection", "close")])
            return None
        return self.rfile.read(length)

    def bad_request(self, reason):
        self.note(f"400 {reason}")
        self.reply(400, f"malformed login request: {reason}\n".encode("utf-8"))

    def sign_in(self, account, password):
        if not isinstance(account, str) or not isinstance(password, str):
            return self.bad_request("username and password are required")
        entry = self.server.state.accounts.get(account)
        known = entry is not None and entry["password"] == password
        shape = self.server.state.shape
        if known and shape in ("flat", "nested"):
            data = {name: entry[name] for name in REPLY_FIELDS}
            if shape == "nested":
                data = {"code": 0, "data": data}
            answer = {"code": 1, "data": data}
            outcome = "code=1"
        else:
            # The failure shapes refuse even a right password, so the failure display can be seen.
            key = "message" if shape == "fail-message" else "msg"
            answer = {"code": 0, key: MAINTENANCE if known else WRONG_CREDENTIALS}
            outcome = f"code=0 {key}={answer[key]}"
        body = json.dumps(answer, ensure_ascii=False, separators=(",", ":")).encode("utf-8")
        # A distant service takes a while; a stop does not wait for it.
        self.server.state.stopping.wait(self.server.state.login_delay)
        self.note(f"200 {outcome}", f"account={printable(account)}")
        self.reply(200, body, "application/json; charset=utf-8")


class PackageHandler(DemoHandler):
    def do_GET(self):
        self.serve()

    def do_HEAD(self):
        self.serve()

    def serve(self):
        state = self.server.state
        path = urllib.parse.urlsplit(self.path).path
        cache = None
        if state.redirect and path == REDIRECT_PATH:
            self.note(f"302 Location: {state.location}")
            self.reply(302, b"moved\n", headers=[("Location", state.location)])
            return
        if state.updates and path.startswith(UPDATE_PATH):
            # The update channel's files: the signed manifest, packages and launcher builds.
            name = path[len(UPDATE_PATH):]
            if not name or "/" in name or name.startswith("."):
                return self.not_found()
            served = os.path.join(state.updates, name)
            cache = UNCHANGING_CACHE if name.endswith(UNCHANGING_SUFFIXES) else MANIFEST_CACHE
        elif path != state.package_path or not state.package:
            return self.not_found()
        else:
            served = state.package
        try:
            package = open(served, "rb")
        except OSError as error:
            self.note(f"404 package file unreadable: {error.strerror or error}")
            self.reply(404, b"package file unreadable\n")
            return
        with package:
            size = os.fstat(package.fileno()).st_size
            self.send_response(200)
            self.send_header("Content-Type", "application/zip" if served.endswith(".zip") else "application/octet-stream")
            self.send_header("Content-Length", str(size))
            if cache:
                self.send_header("Cache-Control", cache)
            self.end_headers()
            if self.command == "HEAD":
                self.note(f"200 {size} bytes (headers only)")
                return
            self.stream(package, size)

    def stream(self, package, size):
        """Sends the file in chunks, paced to the throttle rate; the file is never held whole."""
        state = self.server.state
        started = time.monotonic()
        sent = 0
        try:
            while sent < size:
                chunk = package.read(min(CHUNK_BYTES, size - sent))
                if not chunk:
                    raise OSError(f"package file shrank to {sent} bytes while being sent")
                self.wfile.write(chunk)
                sent += len(chunk)
                if state.throttle > 0 and sent < size:
                    delay = started + sent / state.throttle - time.monotonic()
                    if delay > 0 and state.stopping.wait(delay):
                        raise OSError("the server is stopping")
        except OSError as error:
            # A cancelled download is routine for the launcher: one line, no traceback.
            self.close_connection = True
            if isinstance(error, ConnectionError) and not state.stopping.is_set():
                reason = "client closed the connection"
            elif state.stopping.is_set():
                reason = "the server is stopping"
            else:
                reason = str(error)
            self.note(f"200 aborted after {sent} of {size} bytes: {reason}")
            return
        self.note(f"200 {size} bytes")


def parse_arguments(argv):
    parser = argparse.ArgumentParser(
        prog="demo_server.py",
        formatter_class=argparse.RawDescriptionHelpFormatter,
        description="Runs a login service and a package server on this machine for the launcher "
        "to talk to,\nuntil Ctrl+C or SIGTERM. Each request is logged as one line on stdout.",
        epilog="Reply shapes:\n"
        "  flat          success: {\"code\":1,\"data\":{userid, token, game_id, username}}\n"
        "  nested        success: {\"code\":1,\"data\":{\"code\":0,\"data\":{...}}}\n"
        "  fail-msg      every sign-in fails: {\"code\":0,\"msg\":REASON}\n"
        "  fail-message  every sign-in fails: {\"code\":0,\"message\":REASON}\n"
        "A wrong account or password always fails (\"msg\", or \"message\" in fail-message).\n"
        "Send SIGUSR1 to switch to the next shape while running: kill -USR1 PID\n\n"
        "Startup failures (a port in use, an unreadable file) exit with status 2.",
    )
    parser.add_argument("--host", default="127.0.0.1",
                        help="address both servers listen on (default: %(default)s)")
    parser.add_argument("--login-port", type=int, default=9915, metavar="PORT",
                        help=f"port of the login service, path {LOGIN_PATH} (default: %(default)s)")
    parser.add_argument("--login-delay", type=float, default=0.0, metavar="SECONDS",
                        help="answer each sign-in this late, as a distant service does, so that what the "
                        "launcher shows and says while it waits can be seen and heard (default: 0)")
    parser.add_argument("--accounts", default=str(DEFAULT_ACCOUNTS), metavar="FILE",
                        help='accounts the login service knows, JSON {"accounts":[{"account", "password", '
                        '"userid", "token", "game_id", "username"}]} (default: the demo account in '
                        "tools/demo_accounts.json)")
    parser.add_argument("--reply-shape", choices=SHAPES, default="flat",
                        help="shape of the login replies, see below (default: %(default)s)")
    parser.add_argument("--package-port", type=int, default=80, metavar="PORT",
                        help="port of the package server (default: %(default)s)")
    parser.add_argument("--package", metavar="FILE",
                        help="client package zip to serve, e.g. one made by scripts/make-demo-package; "
                        "without it the package path answers 404")
    parser.add_argument("--package-path", default=DEFAULT_PACKAGE_PATH, metavar="PATH",
                        help="URL path of the package; the query string is ignored (default: %(default)s)")
    parser.add_argument("--throttle", type=int, default=0, metavar="BYTES_PER_SECOND",
                        help="pace package downloads to this rate so the progress can be watched "
                        "(default: 0, as fast as possible)")
    parser.add_argument("--redirect", action="store_true",
                        help=f"also answer {REDIRECT_PATH} with a 302 to the package's absolute URL")
    parser.add_argument("--updates", metavar="DIR",
                        help=f"serve the files of DIR under {UPDATE_PATH} (the signed update manifest, "
                        "packages and launcher builds made by gatehouse-pack publish); .zip and .exe files "
                        f"with Cache-Control: {UNCHANGING_CACHE}, the others with {MANIFEST_CACHE}")
    parser.add_argument("--ready-file", metavar="PATH",
                        help="once both ports are bound, write the server's process id to this file "
                        "(removed again on a clean stop)")
    args = parser.parse_args(argv)
    for name in ("login_port", "package_port"):
        if not 0 <= getattr(args, name) <= 65535:
            parser.error(f"--{name.replace('_', '-')} must be a port number")
    if not args.package_path.startswith("/"):
        parser.error("--package-path must start with /")
    if args.throttle < 0:
        parser.error("--throttle must not be negative")
    if not 0 <= args.login_delay <= 60:
        parser.error("--login-delay must be between 0 and 60 seconds")
    return args


def write_ready_file(path):
    # Written whole and then renamed, so a script polling for it never reads a partial pid.
    temporary = f"{path}.{os.getpid()}.tmp"
    with open(temporary, "w", encoding="ascii") as ready:
        ready.write(f"{os.getpid()}\n")
    os.replace(temporary, path)


def remove_ready_file(path):
    try:
        if Path(path).read_text(encoding="ascii").strip() == str(os.getpid()):
            os.remove(path)
    except OSError:
        pass


def main(argv=None):
    args = parse_arguments(argv)
    sys.stdout.reconfigure(encoding="utf-8", errors="backslashreplace")

    def fail(message):
        print(f"demo server: {message}", file=sys.stderr, flush=True)
        return 2

    try:
        accounts = load_accounts(args.accounts)
    except ValueError as error:
        return fail(str(error))
    if args.package and not os.path.isfile(args.package):
        return fail(f"package file {args.package} does not exist")
    state = DemoState(args, accounts)

    # Signals only queue up here; the main thread acts on them, outside any handler's locks.
    signals = queue.SimpleQueue()
    wanted = [signal.SIGINT, signal.SIGTERM] + ([signal.SIGUSR1] if hasattr(signal, "SIGUSR1") else [])
    for signum in wanted:
        signal.signal(signum, lambda number, frame: signals.put(number))

    servers = []
    for label, port, handler in (("login", args.login_port, LoginHandler),
                                 ("package", args.package_port, PackageHandler)):
        try:
            servers.append(DemoHTTPServer((args.host, port), handler, state, label))
        except OSError as error:
            for server in servers:
                server.server_close()
            what = "login service" if label == "login" else "package server"
            return fail(f"cannot listen on {args.host} port {port} for the {what}: "
                        f"{error.strerror or error}")
    login, packages = servers

    host = "127.0.0.1" if args.host in WILDCARD_HOSTS else args.host
    url_host = f"[{host}]" if ":" in host else host
    login_url = f"http://{url_host}:{login.server_port}{LOGIN_PATH}"
    package_url = f"http://{url_host}:{packages.server_port}{args.package_path}"
    state.location = package_url
    for server in servers:
        threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.2},
                         name=f"{server.label} server", daemon=True).start()

    delay = f", answering after {args.login_delay:g} s" if args.login_delay else ""
    log(f"login service on {login_url}, reply shape {state.shape}, {len(accounts)} account(s) "
        f"from {args.accounts}{delay}")
    if args.package:
        details = f"serving {args.package} ({os.path.getsize(args.package)} bytes)"
    else:
        details = "no --package given, so it answers 404"
    if args.throttle:
        details += f", throttled to {args.throttle} bytes/s"
    log(f"package server on {package_url}, {details}")
    if args.redirect:
        log(f"redirect from http://{url_host}:{packages.server_port}{REDIRECT_PATH}")
    if args.ready_file:
        try:
            write_ready_file(args.ready_file)
        except OSError as error:
            for server in servers:
                server.shutdown()
                server.server_close()
            return fail(f"cannot write ready file {args.ready_file}: {error.strerror or error}")

    while True:
        try:
            signum = signals.get(timeout=0.5)
        except queue.Empty:
            continue
        if hasattr(signal, "SIGUSR1") and signum == signal.SIGUSR1:
            log(f"login reply shape is now {state.next_shape()}")
            continue
        break

    log(f"{signal.Signals(signum).name} received, stopping")
    state.stopping.set()
    for server in servers:
        server.shutdown()
    for server in servers:
        server.drop_connections()
        server.server_close()  # also waits for the request threads, which end once dropped
    if args.ready_file:
        remove_ready_file(args.ready_file)
    log("demo server stopped")
    return 0


if __name__ == "__main__":
    sys.exit(main())
