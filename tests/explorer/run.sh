#!/usr/bin/env bash
# Runs the explorer offscreen: it must cancel one background extraction of
# its sample ZIP and complete another, read the GPS
# position of its sample JPEG, pack the sample files into a new archive and
# copy the extracted folder in the background, and save two non-empty PNG
# screenshots (one mid-extraction), without asking an archive that has no
# path for anything.
#   run.sh <explorer executable>
set -euo pipefail
explorer=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

status=0
env -u DISPLAY -u WAYLAND_DISPLAY "$explorer" --screenshot "$work/shot.png" >"$work/out.txt" 2>"$work/err.txt" || status=$?
cat "$work/out.txt"
cat "$work/err.txt" >&2
test "$status" -eq 0

grep -Eq '^zip: canceled after [0-9]+ of [0-9]+ entries$' "$work/out.txt"
grep -Eq '^zip: [0-9]+ entries, [1-9][0-9]* extracted, 0 errors$' "$work/out.txt"
grep -Eq '^gps: latitude -?[0-9]+\.[0-9]{6} longitude -?[0-9]+\.[0-9]{6}' "$work/out.txt"
grep -Eq '^pack: packed [1-9][0-9]* files into .*/packed\.zip$' "$work/out.txt"
grep -Eq '^packed archive lists [1-9][0-9]* files$' "$work/out.txt"
grep -Eq '^copy: copied [1-9][0-9]* entries, [1-9][0-9]* bytes$' "$work/out.txt"
if grep -q "not open" "$work/err.txt"; then
    echo "the tour asked an archive that is not open" >&2
    exit 1
fi
for shot in "$work/shot-zip.png" "$work/shot.png"; do
    grep -q "^screenshot: $shot$" "$work/out.txt"
    # The PNG signature: 89 50 4E 47 0D 0A 1A 0A.
    test "$(head -c 8 "$shot" | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a"
done
echo "explorer tour passed"
