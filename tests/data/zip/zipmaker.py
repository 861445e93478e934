#!/usr/bin/env python3
"""Writes ZIP archives with Python's zipfile module, an implementation
independent of the module's, for the tests of ZipArchive.

    zipmaker.py < description.json     writes one archive, prints its entries
    zipmaker.py --fixtures DIR         writes the QML test archives into DIR
    zipmaker.py --many OUT.zip COUNT [--no-zip64]
                                       writes COUNT empty entries f00000, f00001, ...;
                                       with --no-zip64 the end record alone
                                       counts them, modulo 65 536

A description is a JSON object:
    {"path": "out.zip", "zip64": false,
     "entries": [{"name": "a/b.txt", "text": "hello"            (UTF-8 data)
                  | "repeat": ["x", 10000]                        (one character n times)
                  | "random": 20000                              (seeded bytes)
                  | "hex": "00ff...",
                  "date": [2021, 1, 31, 13, 45, 58],             (optional)
                  "method": "stored" | "deflated" | "bzip2" | "lzma",    (optional, deflated)
                  "raw_name": "74650074",       (the stored name bytes, unflagged; "name" unused)
                  "unicode_path": "a\\b.txt",   (Info-ZIP Unicode path field, CRC of the stored name)
                  "flag_bits": 2048,            (general purpose flags, set once written)
                  "create_system": 0,           (host the entry was made on: 0 DOS, 3 Unix)
                  "external_attr": 2179792896}],  (0o100755 << 16: Unix mode in the high 16 bits)
     "stream": true,              (written as to a pipe: every entry has a data descriptor)
     what is done to the written file, in this order (all optional):
     "patches": [{"entry": 1, "field": "crc" | "compress_size" | "file_size" | "flag_bits" | "method"
                                      | "local_signature",
                  "value": 7}],   (the entry's headers that hold the field get the value)
     "sets": [[1, 0, 255]],       (entry 1's data byte 0 becomes 255)
     "renames": [["name?.txt", "6e616d6582"]],  (bytes replaced everywhere)
     "repeat_central": [0, 50],   (entry 0's central record 50 more times)
     "declares": [0, 1099511627776],  (entry 0's central record claims that size, in a Zip64 field;
                                       a list of such pairs for several entries)
     "prefix": "text"}            (put in front, offsets left as they are)
Names ending in "/" are folder entries. The printed answer lists, in archive
order, each entry's name, file_size, compress_size, CRC and header_offset,
as written before any of the changes.
"""
import json
import random
import struct
import sys
import zipfile
import zlib

DEFAULT_DATE = (2020, 6, 15, 12, 30, 0)
METHODS = {"stored": zipfile.ZIP_STORED, "deflated": zipfile.ZIP_DEFLATED,
           "bzip2": zipfile.ZIP_BZIP2, "lzma": zipfile.ZIP_LZMA}


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


class Unseekable:
    """A file that cannot seek back: zipfile then writes data descriptors."""
    def __init__(self, f):
        self.f = f

    def write(self, data):
        return self.f.write(data)

    def flush(self):
        self.f.flush()

    def tell(self):
        return self.f.tell()

    def seek(self, *args):
        raise OSError("not seekable")


def placeholder(index, raw):
    """An ASCII name as long as `raw`, replaced by it once written."""
    assert len(raw) > len(str(index)) + 1, "raw names need a few bytes"
    name = (f"~{index}" + "~" * len(raw))[:len(raw)]
    return name[:-1] + "/" if raw.endswith(b"/") else name


def entry_info(index, entry, description):
    name = entry.get("name", "")
    if "raw_name" in entry:
        raw = bytes.fromhex(entry["raw_name"])
        name = placeholder(index, raw)
        description.setdefault("renames", []).append([name, entry["raw_name"]])
    info = zipfile.ZipInfo(name, tuple(entry.get("date", DEFAULT_DATE)))
    info.compress_type = METHODS[entry.get("method", "deflated")]
    if name.endswith("/"):
        info.compress_type = zipfile.ZIP_STORED
        info.external_attr = 0o40755 << 16 | 0x10
    if "flag_bits" in entry:
        description.setdefault("patches", []).append(
            {"entry": index, "field": "flag_bits", "value": entry["flag_bits"]})
    if "create_system" in entry:
        info.create_system = entry["create_system"]
    if "external_attr" in entry:
        info.external_attr = entry["external_attr"]
    if "unicode_path" in entry:
        stored = bytes.fromhex(entry["raw_name"]) if "raw_name" in entry else name.encode()
        text = entry["unicode_path"].encode("utf-8")
        info.extra = struct.pack("<HHBI", 0x7075, 5 + len(text), 1, zlib.crc32(stored)) + text
    return info


def write_archive(description):
    entries = description["entries"]
    with open(description["path"], "wb") as f:
        target = Unseekable(f) if description.get("stream") else f
        with zipfile.ZipFile(target, "w") as archive:
            for index, entry in enumerate(entries):
                info = entry_info(index, entry, description)
                with archive.open(info, "w", force_zip64=description.get("zip64", False)) as out:
                    out.write(entry_bytes(entry))
    with zipfile.ZipFile(description["path"]) as archive:
        answer = [{"name": i.filename, "file_size": i.file_size, "compress_size": i.compress_size,
                   "CRC": i.CRC, "header_offset": i.header_offset} for i in archive.infolist()]
    craft(description, answer)
    return answer


def craft(description, answer):
    """Makes the changes that no writer would make on its own."""
    with open(description["path"], "rb") as f:
        data = bytearray(f.read())
    end = data.rfind(b"PK\x05\x06")
    central = struct.unpack_from("<I", data, end + 16)[0]
    records = []
    at = central
    while at < end and data[at:at + 4] == b"PK\x01\x02":
        size = 46 + sum(struct.unpack_from("<HHH", data, at + 28))
        records.append((at, size))
        at += size
    # Offsets in the local and the central header, and the field's format.
    fields = {"crc": (14, 16, "<I"), "compress_size": (18, 20, "<I"), "file_size": (22, 24, "<I"),
              "flag_bits": (6, 8, "<H"), "method": (8, 10, "<H"), "local_signature": (0, None, "<I")}
    for patch in description.get("patches", []):
        local_at, central_at, form = fields[patch["field"]]
        struct.pack_into(form, data, answer[patch["entry"]]["header_offset"] + local_at, patch["value"])
        if central_at is not None:
            struct.pack_into(form, data, records[patch["entry"]][0] + central_at, patch["value"])
    for index, at, value in description.get("sets", []):
        header = answer[index]["header_offset"]
        name_length, extra_length = struct.unpack_from("<HH", data, header + 26)
        data[header + 30 + name_length + extra_length + at] = value
    for old, new in description.get("renames", []):
        old, new = old.encode(), bytes.fromhex(new)
        assert len(old) == len(new)
        data = data.replace(old, new)
    if "repeat_central" in description:
        index, times = description["repeat_central"]
        at, size = records[index]
        record = bytes(data[at:at + size])
        tail = bytes(data[end:])
        data = data[:end] + record * times + tail
        end += size * times
        count, cd_size = struct.unpack_from("<HI", data, end + 10)
        struct.pack_into("<HHI", data, end + 8, count + times, count + times, cd_size + size * times)
    declares = description.get("declares", [])
    for index, size in ([declares] if declares and not isinstance(declares[0], list) else declares)[::-1]:
        at = records[index][0]
        name_length, extra_length = struct.unpack_from("<HH", data, at + 28)
        extra = struct.pack("<HHQ", 1, 8, int(size))
        struct.pack_into("<I", data, at + 24, 0xFFFFFFFF)
        struct.pack_into("<H", data, at + 30, extra_length + len(extra))
        insert = at + 46 + name_length + extra_length
        data[insert:insert] = extra
        end += len(extra)
        cd_size = struct.unpack_from("<I", data, end + 12)[0]
        struct.pack_into("<I", data, end + 12, cd_size + len(extra))
    if "prefix" in description:
        data = bytearray(description["prefix"].encode()) + data
    with open(description["path"], "wb") as f:
        f.write(data)


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


def drop_zip64_end(path):
    """Leaves only the end record, whose 16-bit counts wrap, as writers
    without Zip64 support do."""
    with open(path, "rb") as f:
        data = f.read()
    end = data.rfind(b"PK\x05\x06")
    z64 = data.rfind(b"PK\x06\x06", 0, end)
    count, size, offset = struct.unpack_from("<QQQ", data, z64 + 32)
    record = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, count & 0xFFFF, count & 0xFFFF, size, offset, 0)
    with open(path, "wb") as f:
        f.write(data[:z64] + record)


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--fixtures":
        write_fixtures(sys.argv[2])
    elif len(sys.argv) in (4, 5) and sys.argv[1] == "--many":
        with zipfile.ZipFile(sys.argv[2], "w") as archive:
            for index in range(int(sys.argv[3])):
                archive.writestr(zipfile.ZipInfo(f"f{index:05d}", DEFAULT_DATE), b"")
        if sys.argv[4:] == ["--no-zip64"]:
            drop_zip64_end(sys.argv[2])
    else:
        json.dump(write_archive(json.load(sys.stdin)), sys.stdout)


if __name__ == "__main__":
    main()
