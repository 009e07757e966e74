"""Runs scripts/lib/static-server.sh's nginx on free loopback ports and talks HTTP to it."""

import hashlib
import http.client
import http.server
import os
import socket
import subprocess
import tempfile
import threading
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
LIBRARY = ROOT / "scripts" / "lib" / "static-server.sh"
STORE = "/K3ClientRes/exe/TalvoPC/update/store/"
PACK = hashlib.shake_256(b"static server test pack").digest(3_000_000)
LARGE = hashlib.shake_256(b"static server test large").digest(32_000_000)


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def library(*command):
    """Runs one of the library's functions in bash; returns its standard output."""
    script = f'source "{LIBRARY}" && "$@"'
    result = subprocess.run(["bash", "-c", script, "static-server", *map(str, command)], capture_output=True,
                            text=True, timeout=30)
    if result.returncode != 0:
        raise AssertionError(f"{command[0]} failed ({result.returncode}): {result.stderr}")
    return result.stdout


def exited(pid):
    """Whether process pid has ended: nginx's master is init's child, which may reap it late."""
    try:
        return Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()[0] == "Z"
    except OSError:
        return True


def summary(folder, *options):
    fields = dict(word.split("=") for word in library("static_server_summary", folder, *options).split())
    return {name: int(value) for name, value in fields.items()}


class OtherServer(http.server.ThreadingHTTPServer):
    """What stands behind nginx for the paths it does not serve itself: answers with the path."""

    def __init__(self):
        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                body = f"other server: {self.path}".encode()
                self.send_response(200)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        super().__init__(("127.0.0.1", 0), Handler)
        threading.Thread(target=self.serve_forever, daemon=True).start()


class StaticServerTest(unittest.TestCase):
    def setUp(self):
        directory = tempfile.TemporaryDirectory(prefix="static-server-test.")
        self.addCleanup(directory.cleanup)
        self.root = Path(directory.name)
        self.store = self.root / "store"
        (self.store / "packs").mkdir(parents=True)
        (self.store / "packs" / "a.pack").write_bytes(PACK)
        (self.store / "packs" / "large.pack").write_bytes(LARGE)
        self.folder = self.root / "nginx"
        self.port = free_port()

    def start(self, *options):
        library("static_server_start", self.folder, self.port, *options, STORE, self.store)
        self.addCleanup(library, "static_server_stop", self.folder)

    def connect(self):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        self.addCleanup(connection.close)
        return connection

    def get(self, connection, path, headers=None):
        connection.request("GET", path, headers=headers or {})
        response = connection.getresponse()
        return response, response.read()

    def test_ranges_on_keep_alive_connections_are_served_and_summed_from_the_log(self):
        self.start()
        first, second = self.connect(), self.connect()
        ranges = [(first, "bytes=0-99"), (first, "bytes=1000-1999"), (second, "bytes=2999000-2999999")]
        for connection, wanted in ranges:
            response, body = self.get(connection, STORE + "packs/a.pack", {"Range": wanted})
            start, end = map(int, wanted[len("bytes="):].split("-"))
            self.assertEqual((response.status, body), (206, PACK[start:end + 1]))
            self.assertIn("immutable", response.getheader("Cache-Control"))
        self.assertEqual(summary(self.folder), {"requests": 3, "connections": 2, "bytes": 2100})

    def test_summary_counts_after_a_mark_and_under_a_prefix_only(self):
        self.start()
        connection = self.connect()
        self.get(connection, STORE + "packs/a.pack", {"Range": "bytes=0-9"})
        mark = int(library("static_server_mark", self.folder))
        self.get(connection, STORE + "packs/a.pack", {"Range": "bytes=0-99"})
        response, _ = self.get(connection, "/elsewhere/file")
        self.assertEqual(response.status, 404)
        cases = [((), 3), (("--since", mark), 2), (("--prefix", STORE), 2), (("--since", mark, "--prefix", STORE), 1)]
        for options, requests in cases:
            self.assertEqual(summary(self.folder, *options)["requests"], requests, options)

    def test_other_paths_are_passed_to_the_other_server(self):
        other = OtherServer()
        self.addCleanup(other.server_close)
        self.addCleanup(other.shutdown)
        self.start("--rest", f"http://127.0.0.1:{other.server_port}")
        response, body = self.get(self.connect(), "/K3ClientRes/exe/TalvoPC/demo/TalvoPC.zip")
        self.assertEqual((response.status, body), (200, b"other server: /K3ClientRes/exe/TalvoPC/demo/TalvoPC.zip"))

    def test_a_paced_connection_is_sent_no_more_than_its_rate_allows_and_counted_for_that(self):
        # Unpaced, loopback's socket buffers would take several megabytes at once.
        self.start("--rate", "250k")
        connection = self.connect()
        connection.request("GET", STORE + "packs/large.pack")
        response = connection.getresponse()
        self.assertEqual(response.read(100_000), LARGE[:100_000])
        connection.sock.shutdown(socket.SHUT_RDWR)
        connection.close()
        library("static_server_stop", self.folder)  # ends the response and writes its log line
        sent = summary(self.folder)["bytes"]
        self.assertGreaterEqual(sent, 100_000)
        self.assertLess(sent, 1_500_000)

    def test_stop_ends_nginx_and_frees_the_port_and_a_new_start_replaces_a_left_instance(self):
        self.start()
        first = int((self.folder / "nginx.pid").read_text())
        self.start()  # the same folder again: the first instance is stopped, not left holding the port
        second = int((self.folder / "nginx.pid").read_text())
        self.assertNotEqual(first, second)
        self.assertTrue(exited(first))
        library("static_server_stop", self.folder)
        self.assertTrue(exited(second))
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", self.port))


if __name__ == "__main__":
    unittest.main()
