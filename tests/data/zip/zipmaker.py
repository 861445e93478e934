#!/usr/bin/env python3
"""Writes ZIP archives with Python's zipfile module, an implementation
independent of minizip, for the tests of ZipArchive.

    zipmaker.py < description.json     writes one archive, prints its entries
    zipmaker.py --fixtures DIR         writes the QML test archives into DIR

A description is a JSON object:
    {"path": "out.zip", "zip64": false,
     "entries": [{"name": "a/b.txt", "text": "hello"            (UTF-8 data)
                  | "repeat": ["x", 10000]                        (one character n times)
                  | "random": 20000                              (seeded bytes)
                  | "hex": "00ff...",
                  "date": [2021, 1, 31, 13, 45, 58],             (optional)
                  "method": "stored" | "deflated"}]}             (optional, deflated)
Names ending in "/" are folder entries. The printed answer lists, in archive
order, each entry's name, file_size, compress_size, CRC and header_offset.
"""
import json
import random
import sys
import zipfile

DEFAULT_DATE = (2020, 6, 15, 12, 30, 0)


def entry_bytes(entry):
    if "text" in entry:
        return entry["text"].encode("utf-8")
    if "repeat" in entry:
        char, count = entry["repeat"]
        return char.encode("utf-8") * count
    if "random" in entry:
        return random.Random(entry.get("seed", 1)).randbytes(entry["random"])
    if "hex" in entry:
        return bytes.fromhex(entry["hex"])
    return b""


def write_archive(description):
    entries = description["entries"]
    with zipfile.ZipFile(description["path"], "w") as archive:
        for entry in entries:
            info = zipfile.ZipInfo(entry["name"], tuple(entry.get("date", DEFAULT_DATE)))
            method = entry.get("method", "deflated")
            info.compress_type = zipfile.ZIP_STORED if method == "stored" else zipfile.ZIP_DEFLATED
            if entry["name"].endswith("/"):
                info.compress_type = zipfile.ZIP_STORED
                info.external_attr = 0o40755 << 16 | 0x10
            with archive.open(info, "w", force_zip64=description.get("zip64", False)) as out:
                out.write(entry_bytes(entry))
    with zipfile.ZipFile(description["path"]) as archive:
        return [{"name": i.filename, "file_size": i.file_size, "compress_size": i.compress_size,
                 "CRC": i.CRC, "header_offset": i.header_offset} for i in archive.infolist()]


# The small archives that the QML tests read (tests/data/zip/); they also
# seed the fuzzer (fuzz/make_corpus.sh).
FIXTURES = {
    "basic.zip": [
        {"name": "a/", "text": ""},
        {"name": "a/b.txt", "repeat": ["b", 10000], "date": [2021, 1, 31, 13, 45, 58]},
        {"name": "c.txt", "text": "c", "method": "stored"},
        {"name": "docs/report.tar.gz", "repeat": ["r", 500]},
        {"name": "empty.txt", "text": ""},
    ],
    "slip.zip": [
        {"name": "../escaped.txt", "text": "outside"},
        {"name": "inside.txt", "text": "inside"},
    ],
}

def write_fixtures(folder):
    for name, entries in sorted(FIXTURES.items()):
        write_archive({"path": f"{folder}/{name}", "entries": entries})


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--fixtures":
        write_fixtures(sys.argv[2])
    else:
        json.dump(write_archive(json.load(sys.stdin)), sys.stdout)


if __name__ == "__main__":
    main()
