"""Runs tools/demo_server.py as its own process on free loopback ports and talks HTTP to it."""

import hashlib
import http.client
import json
import re
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.parse
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
SERVER = ROOT / "tools" / "demo_server.py"
SHIPPED_ACCOUNTS = ROOT / "tools" / "demo_accounts.json"
LOGIN_PATH = "/api/GameLoginLog/GetUidTalvo"
PACKAGE_PATH = "/K3ClientRes/exe/TalvoPC/demo/TalvoPC.zip"
REDIRECT_PATH = "/K3ClientRes/exe/TalvoPC/redirect/TalvoPC.zip"
WRONG_CREDENTIALS = "账号或密码错误"
MAINTENANCE = "服务器维护中，请稍后再试"

# An account whose name and password need percent-encoding, and whose password holds a '+'.
SECOND_ACCOUNT = {"account": "玩家 two", "password": "p&ss= w+rd%", "userid": "10002",
                  "token": "second-token-0123456789abcdef0123456789ab", "game_id": "2004",
                  "username": "第二位玩家"}
PACKAGE_BYTES = hashlib.shake_256(b"demo server test package").digest(400_000)


def free_ports(count):
    """Ports nobody listens on right now; the sockets are held together so the numbers differ."""
    sockets = [socket.socket() for _ in range(count)]
    try:
        for each in sockets:
            each.bind(("127.0.0.1", 0))
        return [each.getsockname()[1] for each in sockets]
    finally:
        for each in sockets:
            each.close()


def query(**fields):
    return "&".join(f"{name}={urllib.parse.quote(value, safe='')}" for name, value in fields.items())


class DemoServer:
    """One demo server process; its output lines are collected as they arrive."""

    def __init__(self, directory, *options, login_port=None, package_port=None):
        ports = free_ports(2)
        self.login_port = login_port or ports[0]
        self.package_port = package_port or ports[1]
        self.ready_file = Path(tempfile.mkdtemp(dir=directory)) / "ready"
        command = [sys.executable, str(SERVER), "--host", "127.0.0.1", "--login-port", str(self.login_port),
                   "--package-port", str(self.package_port), "--ready-file", str(self.ready_file),
                   *map(str, options)]
        self.process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                        encoding="utf-8", errors="replace")
        self.output = []
        self.errors = []
        self.changed = threading.Condition()
        self.readers = [threading.Thread(target=self._collect, args=(stream, lines), daemon=True)
                        for stream, lines in ((self.process.stdout, self.output),
                                              (self.process.stderr, self.errors))]
        for reader in self.readers:
            reader.start()

    def _collect(self, stream, lines):
        for line in stream:
            with self.changed:
                lines.append(line.rstrip("\n"))
                self.changed.notify_all()

    def wait_ready(self, timeout=10):
        deadline = time.monotonic() + timeout
        while not self.ready_file.exists():
            if self.process.poll() is not None:
                self.finish()
                raise AssertionError(f"demo server exited with {self.process.returncode}: {self.errors}")
            if time.monotonic() > deadline:
                raise AssertionError("demo server did not write its ready file")
            time.sleep(0.02)
        return self

    def wait_for_line(self, pattern, timeout=5):
        with self.changed:
            found = self.changed.wait_for(lambda: any(re.search(pattern, line) for line in self.output),
                                          timeout)
        if not found:
            raise AssertionError(f"no output line matches {pattern!r}: {self.output}")

    def request_lines(self):
        with self.changed:
            return [line for line in self.output if " -> " in line]

    def finish(self, timeout=5):
        """Waits for the process to exit and for its output to be read; returns the exit code."""
        code = self.process.wait(timeout)
        for reader in self.readers:
            reader.join(timeout)
        self.process.stdout.close()
        self.process.stderr.close()
        return code

    def stop(self, signum=signal.SIGTERM, timeout=5):
        self.process.send_signal(signum)
        return self.finish(timeout)

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
        self.finish()

    def connect(self, port):
        return http.client.HTTPConnection("127.0.0.1", port, timeout=10)

    def fetch(self, port, method, target, body=None, headers=None):
        connection = self.connect(port)
        try:
            connection.request(method, target, body=body, headers=headers or {})
            response = connection.getresponse()
            return response, response.read()
        finally:
            connection.close()

    def login(self, target, method="GET", body=None, headers=None):
        return self.fetch(self.login_port, method, target, body, headers)

    def package(self, target, method="GET"):
        return self.fetch(self.package_port, method, target)


class DemoServerTestCase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.directory = tempfile.TemporaryDirectory(prefix="demo-server-test.")
        root = Path(cls.directory.name)
        document = json.loads(SHIPPED_ACCOUNTS.read_text(encoding="utf-8"))
        cls.demo = document["accounts"][0]
        document["accounts"].append(SECOND_ACCOUNT)
        cls.accounts = root / "accounts.json"
        cls.accounts.write_text(json.dumps(document, ensure_ascii=False), encoding="utf-8")
        cls.package_file = root / "TalvoPC.zip"
        cls.package_file.write_bytes(PACKAGE_BYTES)

    @classmethod
    def tearDownClass(cls):
        cls.directory.cleanup()

    def start(self, *options):
        server = DemoServer(self.directory.name, *options)
        self.addCleanup(server.kill)
        return server.wait_ready()

    def assert_json_reply(self, response, body):
        self.assertEqual(response.status, 200)
        self.assertEqual(response.getheader("Content-Type"), "application/json; charset=utf-8")
        self.assertEqual(int(response.getheader("Content-Length")), len(body))
        return json.loads(body.decode("utf-8"))

    @staticmethod
    def reply_data(account):
        return {name: account[name] for name in ("userid", "token", "game_id", "username")}


class LoginAndPackageTest(DemoServerTestCase):
    """Shares one server in the default flat shape, with the test's accounts, package and redirect."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.server = DemoServer(cls.directory.name, "--accounts", cls.accounts, "--package", cls.package_file,
                                "--redirect")
        try:
            cls.server.wait_ready()
        except AssertionError:
            cls.server.kill()
            super().tearDownClass()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.server.kill()
        super().tearDownClass()

    def test_ready_file_holds_the_server_pid(self):
        self.assertEqual(self.server.ready_file.read_text().strip(), str(self.server.process.pid))

    def test_demo_account_signs_in_with_a_flat_reply(self):
        response, body = self.server.login(f"{LOGIN_PATH}?{query(username='demo', password='demo123')}")
        self.assertEqual(self.assert_json_reply(response, body),
                         {"code": 1, "data": self.reply_data(self.demo)})
        self.assertIn("演示玩家".encode("utf-8"), body, "the reply is UTF-8, not \\u escapes")

    def test_percent_encoded_name_and_password_with_reserved_characters_sign_in(self):
        fields = query(username=SECOND_ACCOUNT["account"], password=SECOND_ACCOUNT["password"])
        target = f"{LOGIN_PATH}?{fields}"
        self.assertIn("%26", target)
        response, body = self.server.login(target)
        self.assertEqual(self.assert_json_reply(response, body),
                         {"code": 1, "data": self.reply_data(SECOND_ACCOUNT)})

    def test_plus_sign_in_the_query_stays_a_plus_sign(self):
        password = urllib.parse.quote(SECOND_ACCOUNT["password"], safe="+")
        self.assertIn("+", password)
        account = urllib.parse.quote(SECOND_ACCOUNT["account"], safe="")
        response, body = self.server.login(f"{LOGIN_PATH}?username={account}&password={password}")
        self.assertEqual(json.loads(body)["code"], 1)

    def test_wrong_password_answers_code_0_with_msg(self):
        response, body = self.server.login(f"{LOGIN_PATH}?{query(username='demo', password='demo124')}")
        self.assertEqual(self.assert_json_reply(response, body), {"code": 0, "msg": WRONG_CREDENTIALS})

    def test_unknown_account_answers_code_0_with_msg(self):
        response, body = self.server.login(f"{LOGIN_PATH}?{query(username='nobody', password='demo123')}")
        self.assertEqual(self.assert_json_reply(response, body), {"code": 0, "msg": WRONG_CREDENTIALS})

    def test_post_with_a_json_body_signs_in(self):
        fields = {"password": SECOND_ACCOUNT["password"], "username": SECOND_ACCOUNT["account"]}
        body = json.dumps(fields, ensure_ascii=False).encode("utf-8")
        response, body = self.server.login(LOGIN_PATH, "POST", body, {"Content-Type": "application/json"})
        self.assertEqual(self.assert_json_reply(response, body),
                         {"code": 1, "data": self.reply_data(SECOND_ACCOUNT)})

    def test_post_with_a_malformed_body_answers_400(self):
        for body in (b'{"username": "demo", "password": ', b"\xff\xfe", b'["demo", "demo123"]'):
            with self.subTest(body=body):
                headers = {"Content-Type": "application/json"}
                response, _ = self.server.login(LOGIN_PATH, "POST", body, headers)
                self.assertEqual(response.status, 400)

    def test_other_login_paths_answer_404(self):
        for target in ("/api/GameLoginLog/GetUid?username=demo&password=demo123",
                       f"{LOGIN_PATH}2?username=demo&password=demo123", "/"):
            with self.subTest(target=target):
                response, _ = self.server.login(target)
                self.assertEqual(response.status, 404)

    def test_package_get_returns_the_file_bytes(self):
        response, body = self.server.package(PACKAGE_PATH)
        self.assertEqual(response.status, 200)
        self.assertEqual(response.getheader("Content-Type"), "application/zip")
        self.assertEqual(int(response.getheader("Content-Length")), len(PACKAGE_BYTES))
        self.assertEqual(body, PACKAGE_BYTES)

    def test_head_answers_the_length_without_a_body_and_keeps_the_connection_usable(self):
        connection = self.server.connect(self.server.package_port)
        self.addCleanup(connection.close)
        connection.request("HEAD", PACKAGE_PATH)
        head = connection.getresponse()
        self.assertEqual((head.status, head.read()), (200, b""))
        self.assertEqual(int(head.getheader("Content-Length")), len(PACKAGE_BYTES))
        # Body bytes after a HEAD reply would be read as the start of the next reply.
        connection.request("GET", PACKAGE_PATH)
        get = connection.getresponse()
        self.assertEqual((get.status, get.read()), (200, PACKAGE_BYTES))

    def test_query_string_is_ignored_when_matching_the_package(self):
        response, body = self.server.package(f"{PACKAGE_PATH}?v=3813A66F29E4AC58")
        self.assertEqual((response.status, body), (200, PACKAGE_BYTES))

    def test_other_package_paths_answer_404(self):
        for target in ("/K3ClientRes/exe/TalvoPC/other/TalvoPC.zip", "/", LOGIN_PATH):
            with self.subTest(target=target):
                response, _ = self.server.package(target)
                self.assertEqual(response.status, 404)

    def test_redirect_path_answers_302_to_the_absolute_package_url(self):
        response, _ = self.server.package(REDIRECT_PATH)
        self.assertEqual(response.status, 302)
        self.assertEqual(response.getheader("Location"),
                         f"http://127.0.0.1:{self.server.package_port}{PACKAGE_PATH}")


class UpdateFilesTest(DemoServerTestCase):
    def test_update_files_are_cached_as_operators_are_told_to_host_them(self):
        updates = Path(tempfile.mkdtemp(dir=self.directory.name))
        for name in ("manifest.json", "manifest.json.sig", "TalvoPC-2.zip", "Gatehouse.exe"):
            (updates / name).write_bytes(name.encode())
        server = self.start("--updates", updates)
        for name, cache in (("manifest.json", "no-cache"), ("manifest.json.sig", "no-cache"),
                            ("TalvoPC-2.zip", "public, max-age=31536000, immutable"),
                            ("Gatehouse.exe", "public, max-age=31536000, immutable")):
            with self.subTest(name=name):
                response, body = server.package(f"/K3ClientRes/exe/TalvoPC/update/{name}")
                self.assertEqual((response.status, body), (200, name.encode()))
                self.assertEqual(response.getheader("Cache-Control"), cache)


class ReplyShapeTest(DemoServerTestCase):
    def test_nested_shape_wraps_the_success_data_with_the_shipped_default_accounts(self):
        server = self.start("--reply-shape", "nested")
        response, body = server.login(f"{LOGIN_PATH}?{query(username='demo', password='demo123')}")
        self.assertEqual(self.assert_json_reply(response, body),
                         {"code": 1, "data": {"code": 0, "data": self.reply_data(self.demo)}})
        response, body = server.login(f"{LOGIN_PATH}?{query(username='demo', password='wrong')}")
        self.assertEqual(self.assert_json_reply(response, body), {"code": 0, "msg": WRONG_CREDENTIALS})

    def test_fail_message_shape_answers_message_for_right_and_wrong_passwords(self):
        server = self.start("--reply-shape", "fail-message")
        response, body = server.login(f"{LOGIN_PATH}?{query(username='demo', password='demo123')}")
        self.assertEqual(self.assert_json_reply(response, body), {"code": 0, "message": MAINTENANCE})
        response, body = server.login(f"{LOGIN_PATH}?{query(username='demo', password='wrong')}")
        self.assertEqual(self.assert_json_reply(response, body), {"code": 0, "message": WRONG_CREDENTIALS})

    def test_fail_msg_shape_refuses_the_right_password(self):
        server = self.start("--reply-shape", "fail-msg")
        response, body = server.login(f"{LOGIN_PATH}?{query(username='demo', password='demo123')}")
        self.assertEqual(self.assert_json_reply(response, body), {"code": 0, "msg": MAINTENANCE})

    def test_sigusr1_switches_to_the_next_shape(self):
        server = self.start()
        server.process.send_signal(signal.SIGUSR1)
        server.wait_for_line(r"shape is now nested$")
        response, body = server.login(f"{LOGIN_PATH}?{query(username='demo', password='demo123')}")
        self.assertEqual(json.loads(body),
                         {"code": 1, "data": {"code": 0, "data": self.reply_data(self.demo)}})


class LoginDelayTest(DemoServerTestCase):
    def test_sign_in_is_answered_after_the_delay_with_the_usual_reply(self):
        server = self.start("--login-delay", "0.8")
        started = time.monotonic()
        response, body = server.login(f"{LOGIN_PATH}?{query(username='demo', password='demo123')}")
        elapsed = time.monotonic() - started
        self.assertEqual(self.assert_json_reply(response, body), {"code": 1, "data": self.reply_data(self.demo)})
        self.assertGreaterEqual(elapsed, 0.8, "the service waits before it answers")


class ThrottleTest(DemoServerTestCase):
    def test_throttled_download_is_paced_and_complete(self):
        server = self.start("--package", self.package_file, "--throttle", "200000")
        started = time.monotonic()
        response, body = server.package(PACKAGE_PATH)
        elapsed = time.monotonic() - started
        self.assertEqual((response.status, body), (200, PACKAGE_BYTES))
        self.assertGreaterEqual(elapsed, 1.5, "400 kB at 200 kB/s")

    def test_cancelled_download_is_logged_once_without_a_traceback(self):
        server = self.start("--package", self.package_file, "--throttle", "200000")
        connection = server.connect(server.package_port)
        connection.request("GET", PACKAGE_PATH)
        response = connection.getresponse()
        self.assertEqual(len(response.read(100_000)), 100_000)
        connection.close()
        server.wait_for_line(r"package GET .* -> 200 aborted after \d+ of 400000 bytes: client closed")
        self.assertEqual(server.stop(), 0)
        self.assertEqual(server.errors, [])
        self.assertEqual(len(server.request_lines()), 1)

    def test_redirect_path_is_not_served_without_the_option(self):
        server = self.start("--package", self.package_file)
        response, _ = server.package(REDIRECT_PATH)
        self.assertEqual(response.status, 404)


class LoggingAndLifetimeTest(DemoServerTestCase):
    def test_each_request_is_logged_as_one_line_without_the_password(self):
        server = self.start("--accounts", self.accounts, "--package", self.package_file)
        second = query(username=SECOND_ACCOUNT["account"], password=SECOND_ACCOUNT["password"])
        server.login(f"{LOGIN_PATH}?{query(username='demo', password='demo123')}")
        server.login(f"{LOGIN_PATH}?{second}")
        server.login(f"{LOGIN_PATH}?{query(username='demo', password='hunter2')}")
        server.login(LOGIN_PATH, "POST", b'{"password":"hunter3","username":"demo"}')
        server.login("/elsewhere")
        server.package(PACKAGE_PATH)
        server.package(PACKAGE_PATH, "HEAD")
        self.assertEqual(server.stop(), 0)
        lines = server.request_lines()
        self.assertEqual(len(lines), 7, lines)
        stamp = r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d "
        self.assertRegex(lines[0],
                         stamp + re.escape(f"login GET {LOGIN_PATH} account=demo -> 200 code=1") + "$")
        self.assertRegex(lines[1], re.escape('account="玩家 two" -> 200 code=1') + "$")
        self.assertRegex(lines[2], re.escape(f"-> 200 code=0 msg={WRONG_CREDENTIALS}") + "$")
        self.assertRegex(lines[3], re.escape(f"login POST {LOGIN_PATH} account=demo -> 200 code=0"))
        self.assertRegex(lines[4], re.escape("login GET /elsewhere -> 404") + "$")
        # The GET's line is written once its body is sent, which may be after the HEAD's.
        package_lines = sorted(lines[5:7], key=lambda line: " HEAD " in line)
        self.assertRegex(package_lines[0],
                         stamp + re.escape(f"package GET {PACKAGE_PATH} -> 200 400000 bytes") + "$")
        self.assertRegex(package_lines[1], re.escape(f"package HEAD {PACKAGE_PATH} -> 200 400000 bytes"))
        log = "\n".join(server.output)
        for secret in ("demo123", "hunter2", "hunter3", "p&ss", "p%26ss"):
            self.assertNotIn(secret, log)
        self.assertEqual(server.errors, [])

    def test_sigterm_stops_promptly_despite_open_connections_and_frees_the_ports(self):
        server = self.start("--package", self.package_file, "--throttle", "20000")
        idle = server.connect(server.login_port)
        self.addCleanup(idle.close)
        idle.request("GET", f"{LOGIN_PATH}?{query(username='demo', password='demo123')}")
        idle.getresponse().read()  # the connection stays open, waiting for a next request
        downloading = server.connect(server.package_port)
        self.addCleanup(downloading.close)
        downloading.request("GET", PACKAGE_PATH)
        self.assertEqual(downloading.getresponse().status, 200)  # 20 s of body still to come
        started = time.monotonic()
        self.assertEqual(server.stop(signal.SIGTERM, timeout=5), 0)
        self.assertLess(time.monotonic() - started, 5)
        self.assertRegex(server.output[-2], r" package GET .* -> 200 aborted after \d+ of 400000 bytes: "
                                            r"the server is stopping$")
        self.assertRegex(server.output[-1], r" demo server stopped$")
        self.assertEqual(server.errors, [])
        self.assertFalse(server.ready_file.exists(), "a stale ready file would fool the next script")
        for port in (server.login_port, server.package_port):
            with socket.socket() as probe:
                # As any server would; only a listener still holding the port makes this fail.
                probe.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
                probe.bind(("127.0.0.1", port))
                probe.listen()

    def test_ctrl_c_stops_cleanly(self):
        server = self.start()
        self.assertEqual(server.stop(signal.SIGINT), 0)
        self.assertRegex(server.output[-1], r" demo server stopped$")
        self.assertEqual(server.errors, [])

    def test_a_port_in_use_fails_startup_with_status_2_naming_the_port(self):
        for option in ("login_port", "package_port"):
            with self.subTest(option=option), socket.socket() as holder:
                holder.bind(("127.0.0.1", 0))
                holder.listen()
                port = holder.getsockname()[1]
                server = DemoServer(self.directory.name, **{option: port})
                self.addCleanup(server.kill)
                self.assertEqual(server.finish(timeout=10), 2)
                self.assertIn(str(port), "\n".join(server.errors))
                self.assertFalse(server.ready_file.exists())


if __name__ == "__main__":
    unittest.main()
