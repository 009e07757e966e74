#!/usr/bin/env python3
"""Writes a small starting corpus for each fuzz target into DIRECTORY/TARGET, so the fuzzer begins
inside the input format instead of having to discover it: ZIP archives in stored, deflated,
empty, directory, comment and ZIP64 forms, entry names as UTF-16LE, login replies, installed
markers and configuration documents in the forms the launcher and its tests write them, and the
indexes of a small client's content store.
Usage: make-seeds.py DIRECTORY BUILT_IN_CONFIG"""
import hashlib
import io
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


MASK64 = (1 << 64) - 1


def gear_table():
    """The content chunker's table: splitmix64 from its fixed seed."""
    state, table = 0x9E3779B97F4A7C15 ^ 0x67617465686F7573, []
    for _ in range(256):
        state = (state + 0x9E3779B97F4A7C15) & MASK64
        z = state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & MASK64
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK64
        table.append(z ^ (z >> 31))
    return table


def chunk_sizes(data, minimum, average, maximum, gear=gear_table()):
    """Where the launcher's content chunker cuts `data` (src/update/content_chunker.cpp)."""
    bits = average.bit_length() - 1
    top = lambda count: MASK64 ^ ((1 << (64 - count)) - 1)
    small, large = top(bits + 2), top(bits - 2 if bits > 2 else 1)
    sizes, start = [], 0
    while start < len(data):
        hash_, size = 0, len(data) - start
        for length in range(minimum - 64 + 1, min(maximum, len(data) - start) + 1):
            hash_ = ((hash_ << 1) + gear[data[start + length - 1]]) & MASK64
            if length >= minimum and ((hash_ & (small if length < average else large)) == 0 or length >= maximum):
                size = length
                break
        sizes.append(size)
        start += size
    return sizes


def chunk_index(files, directories, chunking, pack_limit=4096):
    """The compressed index of a client as a publisher writes it: each distinct chunk once, raw
    or raw-deflated when that is smaller, in packs named by their digest."""
    package = io.BytesIO()
    write_zip(package, [(name + "/", b"", zipfile.ZIP_STORED) for name in directories] +
              [(name, data, zipfile.ZIP_DEFLATED) for name, data in files])
    packs, pack, chunks, known, listed = [], bytearray(), [], {}, []
    for name, data in files:
        references, start = [], 0
        for size in chunk_sizes(data, *chunking):
            content = data[start:start + size]
            start += size
            digest = hashlib.sha256(content).hexdigest()
            if digest not in known:
                squeezer = zlib.compressobj(9, zlib.DEFLATED, -15)
                deflated = squeezer.compress(content) + squeezer.flush()
                stored = deflated if len(deflated) < size else content
                if pack and len(pack) + len(stored) > pack_limit:
                    packs.append(bytes(pack))
                    pack = bytearray()
                known[digest] = len(chunks)
                chunks.append([digest, size, len(packs), len(pack), len(stored)])
                pack += stored
            references.append(known[digest])
        entry = [name, len(data), references]
        if len(references) >= 2:
            entry.append(hashlib.sha256(data).hexdigest())
        listed.append(entry)
    if pack:
        packs.append(bytes(pack))
    text = lambda value: json.dumps(value, ensure_ascii=False, separators=(",", ":"))
    lines = lambda items: ",\n".join(text(item) for item in items)
    header = {"format": 1, "version": "2026-12-01.1",
              "package": {"sha256": hashlib.sha256(package.getvalue()).hexdigest(), "size": len(package.getvalue())},
              "chunking": dict(zip(("minimum", "average", "maximum"), chunking))}
    document = (text(header)[:-1] + ",\n\"packs\":[\n" +
                lines({"name": hashlib.sha256(p).hexdigest(), "size": len(p)} for p in packs) +
                "],\n\"chunks\":[\n" + lines(chunks) + "],\n\"directories\":[\n" + lines(directories) +
                "],\n\"files\":[\n" + lines(listed) + "]}\n")
    return document.encode()


def index_seeds(directory):
    # The first byte picks the form: even, the index as fetched; odd, the document alone.
    noise = bytes((number * 2654435761 >> 13) & 255 for number in range(6000))
    level = b"Gatehouse client level data\n" * 150
    files = [("TalvoPC/talvo.exe", noise), ("TalvoPC/talvo_Data/level0", level),
             ("TalvoPC/talvo_Data/level1", level), ("TalvoPC/talvo_Data/名字.txt", "客户端".encode()),
             ("TalvoPC/empty.dat", b"")]
    directories = ["TalvoPC", "TalvoPC/talvo_Data"]
    for number, chunking in enumerate(((64, 256, 1024), (262144, 1048576, 4194304))):
        document = chunk_index(files, directories, chunking)
        with open(os.path.join(directory, f"index{number}"), "wb") as out:
            out.write(b"\x00" + zlib.compress(document, 9))
        with open(os.path.join(directory, f"document{number}"), "wb") as out:
            out.write(b"\x01" + document)


def main():
    directory = sys.argv[1]
    for target, make in (("zip_reader", zip_seeds), ("path_rules", path_seeds), ("login_reply", login_seeds), ("credential_text", credential_seeds),
                         ("installed_marker", marker_seeds), ("update_manifest", manifest_seeds),
                         ("chunk_index", index_seeds),
                         ("config_document", lambda path: config_seeds(path, sys.argv[2]))):
        os.makedirs(os.path.join(directory, target), exist_ok=True)
        make(os.path.join(directory, target))


if __name__ == "__main__":
    main()
