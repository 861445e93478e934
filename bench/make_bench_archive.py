#!/usr/bin/env python3
"""Writes the benchmark archive: a deterministic mix of about 200 MB.

    make_bench_archive.py OUTPUT.zip

- 20000 small files (200 B to 12 KB) in 200 folders, each with its folder
  entry; nine in ten are text, one in ten random bytes;
- three large text files of 32 MB each (log-like, very compressible);
- three large files of 40 MB random bytes each, stored as Info-ZIP stores
  what deflate cannot shrink.
The file is written next to OUTPUT and renamed at the end, so an interrupted
run leaves no half archive behind.
"""
import os
import random
import sys
import zipfile

WORDS = ("archive entry folder extract minizip inflate deflate buffer progress signal "
         "quil mapora extras value record central directory local header stream zlib "
         "time date name size crc offset path output input error warning debug").split()
DATE = (2023, 5, 31, 10, 20, 30)


def text(rng, size):
    parts = []
    total = 0
    while total < size:
        line = f"{rng.randrange(100000):05d} " + " ".join(rng.choices(WORDS, k=rng.randrange(4, 14))) + "\n"
        parts.append(line)
        total += len(line)
    return "".join(parts).encode()[:size]


def add(archive, name, data, method=zipfile.ZIP_DEFLATED):
    info = zipfile.ZipInfo(name, DATE)
    info.compress_type = method
    info.external_attr = 0o644 << 16
    archive.writestr(info, data)


def main():
    output = sys.argv[1]
    partial = output + ".part"
    rng = random.Random(20230531)
    with zipfile.ZipFile(partial, "w", compresslevel=6) as archive:
        for folder in range(200):
            info = zipfile.ZipInfo(f"small/d{folder:03d}/", DATE)
            info.external_attr = 0o40755 << 16 | 0x10
            archive.writestr(info, b"")
            for index in range(100):
                size = rng.randrange(200, 12 * 1024)
                name = f"small/d{folder:03d}/f{index:03d}"
                if index % 10 == 9:
                    add(archive, name + ".bin", rng.randbytes(size))
                else:
                    add(archive, name + ".txt", text(rng, size))
        for index in range(3):
            add(archive, f"large/log{index}.txt", text(rng, 32 * 1024 * 1024))
        for index in range(3):
            add(archive, f"large/random{index}.bin", rng.randbytes(40 * 1024 * 1024), zipfile.ZIP_STORED)
    os.replace(partial, output)


if __name__ == "__main__":
    main()
