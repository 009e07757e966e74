#!/usr/bin/env python3
"""Writes a small starting corpus for each fuzz target into DIRECTORY/TARGET, so the fuzzer begins
inside the input format instead of having to discover it: ZIP archives in stored, deflated,
empty, directory, comment and ZIP64 forms, entry names as UTF-16LE, login replies, installed
markers and configuration documents in the forms the launcher and its tests write them.
Usage: make-seeds.py DIRECTORY BUILT_IN_CONFIG"""
import json
import os
import struct
import sys
import zipfile
import zlib


def write_zip(path, entries, comment=b""):
    with zipfile.ZipFile(path, "w") as archive:
        archive.comment = comment
        for name, data, method in entries:
            info = zipfile.ZipInfo(name, date_time=(2024, 1, 1, 0, 0, 0))
            info.compress_type = method
            if name.endswith("/"):
                info.external_attr = 0x10
            archive.writestr(info, data)


def write_zip64(path, name, data):
    """One stored entry whose sizes and offset live in the ZIP64 extra field, behind ZIP64 end
    records (Python's zipfile writes those only for archives too large for a seed)."""
    name = name.encode()
    crc = zlib.crc32(data)
    local = struct.pack("<IHHHHHIIIHH", 0x04034B50, 45, 0, 0, 0, 0, crc, len(data), len(data), len(name), 0)
    body = local + name + data
    extra = struct.pack("<HHQQQ", 0x0001, 24, len(data), len(data), 0)
    central = struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 45, 45, 0, 0, 0, 0, crc, 0xFFFFFFFF,
                          0xFFFFFFFF, len(name), len(extra), 0, 0, 0, 0, 0xFFFFFFFF) + name + extra
    end64_offset = len(body) + len(central)
    end64 = struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, 1, 1, len(central), len(body))
    locator = struct.pack("<IIQI", 0x07064B50, 0, end64_offset, 1)
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0)
    with open(path, "wb") as out:
        out.write(body + central + end64 + locator + end)


def zip_seeds(directory):
    text = b"Gatehouse client file\n" * 8
    write_zip(os.path.join(directory, "stored.zip"), [("readme.txt", text, zipfile.ZIP_STORED)])
    write_zip(os.path.join(directory, "deflated.zip"), [("Game/Data/level0", text * 4, zipfile.ZIP_DEFLATED)])
    write_zip(os.path.join(directory, "mixed.zip"),
              [("Game/", b"", zipfile.ZIP_STORED), ("Game/empty.dat", b"", zipfile.ZIP_DEFLATED),
               ("Game/Game.exe", bytes(range(256)), zipfile.ZIP_DEFLATED),
               ("Game/名字.txt", "客户端".encode(), zipfile.ZIP_STORED)])
    write_zip(os.path.join(directory, "comment.zip"), [("a", b"x", zipfile.ZIP_STORED)], comment=b"PK\x05\x06 note")
    write_zip(os.path.join(directory, "empty.zip"), [])
    write_zip64(os.path.join(directory, "zip64.zip"), "big.bin", text)


def path_seeds(directory):
    # The first byte picks the install folder and staging; the rest is the name in UTF-16LE.
    names = ["Game/Game.exe", "Game\\Data\\level0", "../outside", "con .txt", "COM\u00b9",
             "a./b", "客户端/名字.txt", ".launcher-installed.json", "x" * 300]
    for number, name in enumerate(names):
        with open(os.path.join(directory, f"name{number}"), "wb") as out:
            out.write(bytes([number * 37 % 256]) + name.encode("utf-16-le"))


def write_all(directory, documents, prefix=b""):
    for number, document in enumerate(documents):
        text = document if isinstance(document, str) else json.dumps(document, ensure_ascii=False)
        with open(os.path.join(directory, f"seed{number}"), "wb") as out:
            out.write(prefix[number % len(prefix)].to_bytes(1, "little") if prefix else b"")
            out.write(text.encode())


def login_seeds(directory):
    identity = {"userid": 42, "token": "tok-123", "game_id": "7", "username": "玩家"}
    write_all(directory, [
        {"code": 1, "data": identity, "msg": "ok"},
        {"code": "1", "data": {"userid": "u-1", "token": 99, "game_id": 3.5}},
        {"code": 0, "msg": "密码错误"},
        {"code": -1, "message": "维护中", "msg": "ignored"},
        {"code": 1, "data": {"code": 0, "data": {"code": 0, "data": identity}}},
        {"code": 1, "data": {"code": 1, "msg": "内层失败", "data": {"userid": "5"}}},
        '{"code":1,"data":{"userid":"\\u0000","token":"\\ud83d\\ude00","game_id":"g"}}',
    ])


def credential_seeds(directory):
    write_all(directory, [
        '{"password":"p\\"w\\\\d\\u0001","username":"玩家 One"}',
        '{"username":"a","username":"b","other":[1,{"x":null}],"password":"\\ud83d\\ude00"}',
        '{}',
        ' { "password" : "" } ',
    ])


def marker_seeds(directory):
    # The first byte picks the install folder, the configured version and digest, and missing files.
    digest = "3813A66F29E4AC582B2E725E305BE6BF79F86849195B3656336F652339B966E9"
    files = [{"length": 8, "path": "TalvoPC\\talvo.exe"}, {"length": 10, "path": "TalvoPC/talvo_Data/level0"},
             {"length": 0, "path": "TalvoPC\\名字.txt"}]
    write_all(directory, [
        {"files": files, "sha256": digest, "version": "2026-11-09.3"},
        {"files": files + [{"path": "../outside", "length": 1}], "sha256": digest, "version": "v"},
        {"files": [{"length": 1}, files[0]], "sha256": digest, "version": "v"},
        {"files": files, "files": [], "version": 3},
        '{"version":"v","files":[{"path":"a","length":1.5e3,"path":"b"},7,{"path":"c","length":-1}]}',
    ], prefix=bytes([4, 12, 20, 6, 31]))


def config_seeds(directory, built_in_path):
    with open(built_in_path, encoding="utf-8") as source:
        built_in = json.load(source)
    legacy = dict(built_in, clientPackage=dict(built_in["clientPackage"], executablePath="Game.exe", downloadUrl=""))
    https = dict(built_in, loginProxyUrl="https://login.example.com/api/login", loginRequestMethod="POST",
                 clientPackage=dict(built_in["clientPackage"], downloadUrl="https://cdn.example.com/c.zip", sha256=""))
    write_all(directory, [built_in, legacy, https, {"platId": 81, "sdkName": "PCtalvoSDK"},
                          dict(built_in, platId="81"), "[]"])


def manifest_seeds(directory):
    digest = "3813A66F29E4AC582B2E725E305BE6BF79F86849195B3656336F652339B966E9"
    package = {"downloadUrl": "https://cdn.example.com/client/2.zip", "sha256": digest, "version": "2"}
    launcher = {"version": "1.3.0", "downloadUrl": "https://cdn.example.com/Gatehouse.exe", "sha256": digest}
    write_all(directory, [
        {"sequence": 7, "expires": "2027-01-08T05:00:00Z", "clientPackage": package},
        {"sequence": 8, "expires": "2099-12-31T23:59:59Z", "clientPackage": package, "launcher": launcher},
        {"sequence": 1, "expires": "2024-02-29T00:00:00Z", "clientPackage": {}, "launcher": dict(launcher, version="1..2")},
    ])


def main():
    directory = sys.argv[1]
    for target, make in (("zip_reader", zip_seeds), ("path_rules", path_seeds), ("login_reply", login_seeds), ("credential_text", credential_seeds),
                         ("installed_marker", marker_seeds), ("update_manifest", manifest_seeds),
                         ("config_document", lambda path: config_seeds(path, sys.argv[2]))):
        os.makedirs(os.path.join(directory, target), exist_ok=True)
        make(os.path.join(directory, target))


if __name__ == "__main__":
    main()
