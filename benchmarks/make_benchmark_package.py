#!/usr/bin/env python3
"""Writes the benchmarks' client package: a few large incompressible files and many small
compressible ones, deflated, laid out like a Unity client. Deterministic for a given scale and
version.

    make_benchmark_package.py OUT.zip [SCALE [VERSION]] [--all-entries]
        SCALE 1.0 is about 1 GiB; VERSION 1 or 2; with --all-entries SCALE shrinks the large files
        only and every small file stays, so the package holds as many entries at any size

Version 2 is what a typical client update changes in version 1: 2% of the small files (scattered)
changed, 20 small files added and 20 removed, 1 MiB rewritten in the middle of one large asset and
64 KiB inserted near the start of another.
"""
import random
import sys
import zipfile

DATA = "TalvoPC/talvo-曜石纪元_Data"
REWRITTEN_ASSET = 1  # 1 MiB rewritten in its middle
GROWN_ASSET = 2  # 64 KiB inserted near its start
INSERTED_AT = 96 * 1024
CHANGED_SHARE = 0.02
ADDED = REMOVED = 20


def small_name(index):
    return f"{DATA}/Resources/{index // 500:03d}/item{index:05d}.json"


def small_text(rng, words):
    size = 1024 + rng.randrange(4096)
    return b" ".join(rng.choice(words) for _ in range(size // 9))


def version_1(scale, entry_scale=None):
    """Yields (name, bytes) of version 1, in package order; the random draws are those the package
    has always been made with, so version 1 stays the same bytes. `entry_scale` scales the number of
    small files instead of `scale`."""
    rng = random.Random(20261208)
    big_size = int(240 * 1024 * 1024 * scale)
    yield "TalvoPC/talvo-曜石纪元.exe", b"MZ" + rng.randbytes(65536)
    yield "TalvoPC/UnityPlayer.dll", b"MZ" + rng.randbytes(1 << 20)
    for index in range(4):
        yield f"{DATA}/sharedassets{index}.assets", rng.randbytes(big_size)
    words = [f"token{n:04d}".encode() for n in range(2000)]
    for index in range(int(20000 * (scale if entry_scale is None else entry_scale))):
        yield small_name(index), small_text(rng, words)


def version_2(scale):
    """Yields (name, bytes) of version 2, made from version 1 by its own seeded draws."""
    small_files = int(20000 * scale)
    rng = random.Random(20261209)
    picked = rng.sample(range(small_files), int(small_files * CHANGED_SHARE) + REMOVED)
    changed, removed = set(picked[REMOVED:]), set(picked[:REMOVED])
    words = [f"token{n:04d}".encode() for n in range(2000)]
    for name, content in version_1(scale):
        if name.endswith(f"sharedassets{REWRITTEN_ASSET}.assets"):
            middle = len(content) // 2
            content = content[:middle] + rng.randbytes(1 << 20) + content[middle + (1 << 20):]
        elif name.endswith(f"sharedassets{GROWN_ASSET}.assets"):
            content = content[:INSERTED_AT] + rng.randbytes(64 * 1024) + content[INSERTED_AT:]
        elif name.startswith(f"{DATA}/Resources/"):
            index = int(name[-10:-5])
            if index in removed:
                continue
            if index in changed:
                content = small_text(rng, words)
        yield name, content
    for number in range(ADDED):
        folder = rng.randrange(max(small_files // 500, 1))
        yield f"{DATA}/Resources/{folder:03d}/added{number:02d}.json", small_text(rng, words)


def main():
    arguments = [argument for argument in sys.argv[1:] if argument != "--all-entries"]
    all_entries = len(arguments) < len(sys.argv) - 1
    out = arguments[0]
    scale = float(arguments[1]) if len(arguments) > 1 else 1.0
    version = int(arguments[2]) if len(arguments) > 2 else 1
    if version not in (1, 2) or (all_entries and version != 1):
        sys.exit("make_benchmark_package.py: VERSION is 1 or 2; --all-entries makes version 1 only")
    files = version_1(scale, 1.0 if all_entries else None) if version == 1 else version_2(scale)
    with zipfile.ZipFile(out, "w", compression=zipfile.ZIP_DEFLATED, compresslevel=6) as archive:
        for name, content in files:
            # A fixed time and mode, so the same scale and version give the same bytes.
            entry = zipfile.ZipInfo(name, date_time=(2026, 12, 1, 0, 0, 0))
            entry.compress_type = zipfile.ZIP_DEFLATED
            entry.external_attr = 0o644 << 16
            archive.writestr(entry, content)


if __name__ == "__main__":
    main()
