#!/usr/bin/env python3
"""Writes the extraction benchmark's client package: a few large incompressible files and many
small compressible ones, deflated, laid out like a Unity client. Deterministic for a given scale.

    make_benchmark_package.py OUT.zip [SCALE]   SCALE 1.0 is about 1 GiB
"""
import random
import sys
import zipfile


def main():
    out = sys.argv[1]
    scale = float(sys.argv[2]) if len(sys.argv) > 2 else 1.0
    rng = random.Random(20261208)
    big_files = 4
    big_size = int(240 * 1024 * 1024 * scale)
    small_files = int(20000 * scale)
    with zipfile.ZipFile(out, "w", compression=zipfile.ZIP_DEFLATED, compresslevel=6) as archive:
        archive.writestr("TalvoPC/talvo-曜石纪元.exe", b"MZ" + rng.randbytes(65536))
        archive.writestr("TalvoPC/UnityPlayer.dll", b"MZ" + rng.randbytes(1 << 20))
        for index in range(big_files):
            archive.writestr(f"TalvoPC/talvo-曜石纪元_Data/sharedassets{index}.assets", rng.randbytes(big_size))
        words = [f"token{n:04d}".encode() for n in range(2000)]
        for index in range(small_files):
            size = 1024 + rng.randrange(4096)
            text = b" ".join(rng.choice(words) for _ in range(size // 9))
            archive.writestr(f"TalvoPC/talvo-曜石纪元_Data/Resources/{index // 500:03d}/item{index:05d}.json", text)


if __name__ == "__main__":
    main()
