#!/usr/bin/env python3
"""Writes a benchmark archive: a deterministic mix.

    make_bench_archive.py OUTPUT.zip               (about 200 MB)
    make_bench_archive.py --files-3006 OUTPUT.zip  (about 64 MB)
    make_bench_archive.py --entries N OUTPUT.zip   (N empty entries)

The first:
- 20000 small files (200 B to 12 KB) in 200 folders, each with its folder
  entry; nine in ten are text, one in ten random bytes;
- three large text files of 32 MB each (log-like, very compressible);
- three large files of 40 MB random bytes each, stored as Info-ZIP stores
  what deflate cannot shrink.
With --files-3006, 171 MB in 3006 files and no folder entries:
- 3000 files (200 B to 24 KB) in 30 folders, nine in ten text;
- three text files of 34 MiB and three random files of 9 MiB, stored.
With --entries, N empty stored entries named like "012/012345.txt"
in folders of 1000, written straight (zipfile takes minutes for a million).
The file is written next to OUTPUT and renamed at the end, so an interrupted
run leaves no half archive behind.
"""
import os
import random
import struct
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


def mix(archive, rng, folders, small_max, folder_entries, log_size, random_size):
    """`folders` folders of 100 small files (200 B to `small_max`, one in
    ten random bytes), then three text files of `log_size` and three random
    files of `random_size`, stored."""
    width = len(str(folders - 1))
    for folder in range(folders):
        prefix = f"small/d{folder:0{width}d}/"
        if folder_entries:
            info = zipfile.ZipInfo(prefix, DATE)
            info.external_attr = 0o40755 << 16 | 0x10
            archive.writestr(info, b"")
        for index in range(100):
            size = rng.randrange(200, small_max)
            name = f"{prefix}f{index:03d}"
            if index % 10 == 9:
                add(archive, name + ".bin", rng.randbytes(size))
            else:
                add(archive, name + ".txt", text(rng, size))
    for index in range(3):
        add(archive, f"large/log{index}.txt", text(rng, log_size))
    for index in range(3):
        add(archive, f"large/random{index}.bin", rng.randbytes(random_size), zipfile.ZIP_STORED)


def empty_entries(path, count):
    """Local headers, central records and end records of `count` empty
    stored entries, with Zip64 end records past 65 535 entries."""
    dos_time = (DATE[3] << 11) | (DATE[4] << 5) | (DATE[5] // 2)
    dos_date = ((DATE[0] - 1980) << 9) | (DATE[1] << 5) | DATE[2]
    central = bytearray()
    with open(path, "wb") as f:
        offset = 0
        for index in range(count):
            name = f"{index // 1000:03d}/{index:06d}.txt".encode()
            local = struct.pack("<IHHHHHIIIHH", 0x04034B50, 10, 0, 0, dos_time, dos_date, 0, 0, 0, len(name), 0)
            f.write(local + name)
            central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 0x031E, 10, 0, 0, dos_time, dos_date,
                                   0, 0, 0, len(name), 0, 0, 0, 0, 0o100644 << 16, offset) + name
            offset += len(local) + len(name)
        f.write(central)
        end = offset + len(central)
        f.write(struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, count, count, len(central), offset))
        f.write(struct.pack("<IIQI", 0x07064B50, 0, end, 1))
        f.write(struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 0xFFFF, 0xFFFF, len(central), offset, 0))


def main():
    args = sys.argv[1:]
    output = args[-1]
    partial = output + ".part"
    if args[0] == "--entries":
        empty_entries(partial, int(args[1]))
    else:
        rng = random.Random(20230531)
        with zipfile.ZipFile(partial, "w", compresslevel=6) as archive:
            if args[0] == "--files-3006":
                mix(archive, rng, 30, 24 * 1024, False, 34 << 20, 9 << 20)
            else:
                mix(archive, rng, 200, 12 * 1024, True, 32 << 20, 40 << 20)
    os.replace(partial, output)


if __name__ == "__main__":
    main()
