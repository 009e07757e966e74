"""Runs scripts/make-demo-package on stand-in build outputs made here, then serves its package."""

import hashlib
import json
import os
import subprocess
import tempfile
import unittest
import zipfile
from pathlib import Path

from demo_server_test import ROOT, DemoServer

SCRIPT = ROOT / "scripts" / "make-demo-package"
BUILD = Path(os.environ.get("LAUNCHER_BUILD_DIR", ROOT / "build"))
PACKAGE_URL = "http://127.0.0.1/K3ClientRes/exe/TalvoPC/demo/TalvoPC.zip"
REDIRECT_URL = "http://127.0.0.1/K3ClientRes/exe/TalvoPC/redirect/TalvoPC.zip"
GAME_BYTES = b"MZ stand-in game\n" + bytes(range(256)) * 64
PLAYER_BYTES = b"MZ stand-in UnityPlayer\n" + bytes(range(255, -1, -1)) * 32
# Shaped like the launcher's built-in document; every member but three must come through untouched.
BUILTIN = {
    "apiDomain": "https://127.0.0.1",
    "appId": "2004",
    "autoLaunch": False,
    "clientPackage": {
        "downloadUrl": "http://127.0.0.1/K3ClientRes/exe/TalvoPC/2026-11-09/TalvoPC.zip?v=3813A66F29E4AC58",
        "executablePath": "TalvoPC/talvo-曜石纪元.exe",
        "installDirectory": "GameClient",
        "maxDownloadBytes": 17179869184,
        "sha256": "3813A66F29E4AC582B2E725E305BE6BF79F86849195B3656336F652339B966E9",
        "version": "2026-11-09.3",
    },
    "gameArguments": [],
    "gameTitle": "曜石纪元",
    "loginProxyUrl": "http://127.0.0.1:9915/api/GameLoginLog/GetUidTalvo",
    "platId": 81,
}
EXPECTED_ENTRIES = [
    "TalvoPC/",
    "TalvoPC/UnityPlayer.dll",
    "TalvoPC/standin-game.txt",
    "TalvoPC/talvo-曜石纪元.exe",
    "TalvoPC/talvo-曜石纪元_Data/",
    "TalvoPC/talvo-曜石纪元_Data/app.info",
    "TalvoPC/talvo-曜石纪元_Data/globalgamemanagers",
    "TalvoPC/talvo-曜石纪元_Data/level0",
    "TalvoPC/talvo-曜石纪元_Data/resources.assets",
]


class MakeDemoPackageTest(unittest.TestCase):
    def setUp(self):
        directory = tempfile.TemporaryDirectory(prefix="make-demo-package-test.")
        self.addCleanup(directory.cleanup)
        self.root = Path(directory.name)
        self.build = self.root / "build"
        self.make_build(self.build)

    def make_build(self, build, programs=""):
        (build / programs).mkdir(parents=True, exist_ok=True)
        # The packing itself is the real tool of the real build tree, run under its Wine prefix.
        for name in ("gatehouse-pack.exe", "wine-run"):
            (build / name).symlink_to(BUILD / name)
        (build / programs / "standin_game.exe").write_bytes(GAME_BYTES)
        (build / programs / "UnityPlayer.dll").write_bytes(PLAYER_BYTES)
        (build / "generated").mkdir(exist_ok=True)
        (build / "generated" / "builtin-config.json").write_text(
            json.dumps(BUILTIN, ensure_ascii=False, indent=2), encoding="utf-8")

    def make(self, name="run", *options, build=None):
        # Run as an operator would, through its own first line: the script must stay executable.
        run = self.root / name
        result = subprocess.run([str(SCRIPT), *options, str(build or self.build), str(run)],
                                capture_output=True, encoding="utf-8", timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr)
        return run, result.stdout

    def test_two_runs_make_byte_identical_packages(self):
        first, _ = self.make("first")
        # Newer input timestamps must not leak into the archive.
        later = 1_900_000_000
        for name in ("standin_game.exe", "UnityPlayer.dll"):
            os.utime(self.build / name, (later, later))
        second, _ = self.make("second")
        self.assertEqual((first / "TalvoPC.zip").read_bytes(), (second / "TalvoPC.zip").read_bytes())
        self.assertEqual((first / "launcher.config.json").read_bytes(),
                         (second / "launcher.config.json").read_bytes())

    def test_package_lays_the_stand_in_out_as_a_unity_client(self):
        run, _ = self.make()
        with zipfile.ZipFile(run / "TalvoPC.zip") as archive:
            self.assertIsNone(archive.testzip())
            self.assertEqual(archive.namelist(), EXPECTED_ENTRIES)
            self.assertEqual(archive.read("TalvoPC/talvo-曜石纪元.exe"), GAME_BYTES)
            self.assertEqual(archive.read("TalvoPC/UnityPlayer.dll"), PLAYER_BYTES)
            self.assertEqual(archive.read("TalvoPC/standin-game.txt").split(), [b"window"])
            assets = archive.getinfo("TalvoPC/talvo-曜石纪元_Data/resources.assets")
            self.assertGreaterEqual(assets.file_size, 2 * 1024 * 1024)
            self.assertGreater(assets.compress_size, assets.file_size * 0.95, "assets must not compress away")
            for info in archive.infolist():
                with self.subTest(entry=info.filename):
                    self.assertEqual(info.date_time, (1980, 1, 1, 0, 0, 0))
                    if not info.filename.isascii():
                        self.assertTrue(info.flag_bits & 0x800, "non-ASCII names are flagged UTF-8")
                    if info.is_dir():
                        self.assertEqual(info.file_size, 0)
                    elif info.compress_type == zipfile.ZIP_STORED:
                        # Noise and tiny files are stored: deflating would not make them smaller.
                        self.assertEqual(info.compress_size, info.file_size)
                    else:
                        self.assertEqual(info.compress_type, zipfile.ZIP_DEFLATED)
            self.assertEqual(archive.getinfo("TalvoPC/talvo-曜石纪元.exe").compress_type, zipfile.ZIP_DEFLATED)

    def test_config_points_at_the_package_by_its_digest_and_keeps_the_rest(self):
        run, stdout = self.make()
        package = (run / "TalvoPC.zip").read_bytes()
        digest = hashlib.sha256(package).hexdigest().upper()
        raw = (run / "launcher.config.json").read_bytes()
        self.assertTrue(raw.startswith(b"{"), "no byte order mark")
        self.assertIn("\n  \"gameTitle\": \"曜石纪元\"".encode("utf-8"), raw)
        config = json.loads(raw.decode("utf-8"))
        client = config["clientPackage"]
        self.assertEqual(client.pop("sha256"), digest)
        self.assertEqual(client.pop("version"), f"demo-{digest[:8]}")
        self.assertEqual(client.pop("downloadUrl"), PACKAGE_URL)
        expected = json.loads(json.dumps(BUILTIN))
        for name in ("sha256", "version", "downloadUrl"):
            del expected["clientPackage"][name]
        self.assertEqual(config, expected)
        self.assertIn(digest, stdout)
        self.assertIn(str(len(package)), stdout)

    def test_redirect_option_points_at_the_redirect_path(self):
        run, _ = self.make("run", "--redirect")
        config = json.loads((run / "launcher.config.json").read_text(encoding="utf-8"))
        self.assertEqual(config["clientPackage"]["downloadUrl"], REDIRECT_URL)

    def test_cmake_tree_with_programs_under_tools_is_found(self):
        build = self.root / "cmake-build"
        self.make_build(build, programs="tools")
        run, _ = self.make("run", build=build)
        with zipfile.ZipFile(run / "TalvoPC.zip") as archive:
            self.assertEqual(archive.read("TalvoPC/talvo-曜石纪元.exe"), GAME_BYTES)

    def test_missing_input_fails_naming_it_and_writes_nothing(self):
        (self.build / "UnityPlayer.dll").unlink()
        run = self.root / "run"
        result = subprocess.run([str(SCRIPT), str(self.build), str(run)], capture_output=True,
                                encoding="utf-8", timeout=60)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("UnityPlayer.dll", result.stderr)
        self.assertFalse((run / "TalvoPC.zip").exists())
        self.assertFalse((run / "launcher.config.json").exists())

    def test_demo_server_serves_the_package_the_config_names(self):
        run, _ = self.make()
        config = json.loads((run / "launcher.config.json").read_text(encoding="utf-8"))
        server = DemoServer(self.root, "--package", run / "TalvoPC.zip")
        self.addCleanup(server.kill)
        server.wait_ready()
        path = config["clientPackage"]["downloadUrl"].removeprefix("http://127.0.0.1")
        response, body = server.package(path)
        self.assertEqual(response.status, 200)
        self.assertEqual(hashlib.sha256(body).hexdigest().upper(), config["clientPackage"]["sha256"])
        self.assertEqual(server.stop(), 0)


if __name__ == "__main__":
    unittest.main()
