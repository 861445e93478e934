#!/usr/bin/env bash
# Writes the seed corpus of fuzz_ziparchive: small archives made by Python's
# zipfile (tests/data/zip/zipmaker.py) and one by Info-ZIP zip, whose extra
# fields (timestamps, Unix ids) take the reader through other paths.
set -euo pipefail
cd "$(dirname "$0")/.."
corpus=fuzz/corpus/fuzz_ziparchive
mkdir -p "$corpus"
python3 tests/data/zip/zipmaker.py --corpus "$corpus"

tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree/d/e"
printf 'info-zip text\n' > "$tree/d/a.txt"
printf 'more\n' > "$tree/d/e/b.txt"
touch -d '2022-03-31 10:11:12' "$tree/d" "$tree/d/e" "$tree/d/a.txt" "$tree/d/e/b.txt"
rm -f "$corpus/infozip.zip" "$corpus/infozip-extra.zip"
(cd "$tree" && zip -q -r -X "$OLDPWD/$corpus/infozip.zip" d && zip -q -r "$OLDPWD/$corpus/infozip-extra.zip" d/e)
