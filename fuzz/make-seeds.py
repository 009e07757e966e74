#!/usr/bin/env python3
"""Writes a small starting corpus for each fuzz target into DIRECTORY/TARGET, so the fuzzer begins
inside the input format instead of having to discover it: ZIP archives in stored, deflated,
empty, directory, comment and ZIP64 forms, and entry names as UTF-16LE."""
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


def main():
    for target, make in (("zip_reader", zip_seeds), ("path_rules", path_seeds)):
        directory = os.path.join(sys.argv[1], target)
        os.makedirs(directory, exist_ok=True)
        make(directory)


if __name__ == "__main__":
    main()
