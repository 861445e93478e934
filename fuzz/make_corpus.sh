#!/usr/bin/env bash
# Writes the seed corpus of fuzz_ziparchive: small archives made by Python's
# zipfile (through tests/data/zip/zipmaker.py; some changed afterwards: a
# prefix, overlapping entries, a code page 437 name, a wrong size) and three
# by Info-ZIP zip, whose extra fields (timestamps, Unix ids, Zip64) take the
# reader through other paths.
set -euo pipefail
cd "$(dirname "$0")/.."
corpus=fuzz/corpus/fuzz_ziparchive
mkdir -p "$corpus"
python3 tests/data/zip/zipmaker.py --fixtures "$corpus"

make() { python3 tests/data/zip/zipmaker.py > /dev/null; }
make <<JSON
{"path": "$corpus/nested.zip", "entries": [
  {"name": "x/"}, {"name": "x/y/z.txt", "repeat": ["deep ", 20]},
  {"name": "\u00e9t\u00e9/na\u00efve.txt", "text": "utf-8 name"}]}
JSON
make <<JSON
{"path": "$corpus/zip64.zip", "zip64": true, "entries": [
  {"name": "big.txt", "repeat": ["z", 3000]}, {"name": "s.bin", "random": 64, "method": "stored"}]}
JSON
make <<JSON
{"path": "$corpus/names.zip", "entries": [
  {"name": "/tmp/maporaextras-fuzz-absolute.txt", "text": "a"}, {"name": "C:/drive.txt", "text": "d"},
  {"name": "..\\\\back.txt", "text": "b"}, {"name": ":res/r.txt", "text": "r"}, {"name": "..ok/x..y", "text": "ok"}]}
JSON

# Names as DOS, Windows and Unix tools write them: a NUL, control bytes, a
# WinZip Unicode path field, a name flagged UTF-8 that is not, Unix modes.
make <<JSON
{"path": "$corpus/hosts.zip", "entries": [
  {"raw_name": "74650074", "text": "nul"}, {"raw_name": "6101021f7f", "text": "control"},
  {"raw_name": "845c812e747874", "unicode_path": "\u00e4\\\\\u00fc.txt", "create_system": 0, "text": "winzip"},
  {"raw_name": "6261ff2e747874", "flag_bits": 2048, "text": "bad utf-8"},
  {"name": "run.sh", "text": "#!/bin/sh", "create_system": 3, "external_attr": 2414673920}]}
JSON
# Written as to a pipe: data descriptors after stored, deflated and bzip2 data.
make <<JSON
{"path": "$corpus/stream.zip", "stream": true, "entries": [
  {"name": "s.txt", "text": "stored", "method": "stored"}, {"name": "d.txt", "repeat": ["d", 900]},
  {"name": "b.txt", "repeat": ["b", 300], "method": "bzip2"}]}
JSON
make <<JSON
{"path": "$corpus/empty.zip", "entries": []}
JSON
make <<JSON
{"path": "$corpus/prefixed.zip", "prefix": "#!/bin/sh\\nexit 0\\n", "entries": [
  {"name": "p/", "text": ""}, {"name": "p/b.bz2.txt", "repeat": ["b", 700], "method": "bzip2"}]}
JSON
make <<JSON
{"path": "$corpus/overlap.zip", "repeat_central": [0, 4], "entries": [
  {"name": "o.txt", "repeat": ["o", 4000]}]}
JSON
make <<JSON
{"path": "$corpus/cp437.zip", "renames": [["caf?.txt", "636166822e747874"]], "entries": [
  {"name": "caf?.txt", "text": "cp437"}, {"name": "short.txt", "text": "declared longer"}],
  "patches": [{"entry": 1, "field": "file_size", "value": 500}]}
JSON

tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree/d/e"
printf 'info-zip text\n' > "$tree/d/a.txt"
printf 'more\n' > "$tree/d/e/b.txt"
touch -d '2022-03-31 10:11:12' "$tree/d" "$tree/d/e" "$tree/d/a.txt" "$tree/d/e/b.txt"
# Info-ZIP stores access times too; one later than the modification time
# and not in the past is left alone by relatime, so the bytes repeat.
touch -a -d '2037-12-31 00:00:00' "$tree/d" "$tree/d/e" "$tree/d/a.txt" "$tree/d/e/b.txt"
rm -f "$corpus/infozip.zip" "$corpus/infozip-extra.zip" "$corpus/infozip-zip64.zip"
(cd "$tree" && zip -q -r "$OLDPWD/$corpus/infozip-extra.zip" d/e && zip -q -r -X "$OLDPWD/$corpus/infozip.zip" d \
    && zip -q -r -X -fz "$OLDPWD/$corpus/infozip-zip64.zip" d)
