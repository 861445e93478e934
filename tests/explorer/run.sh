#!/usr/bin/env bash
# Runs the explorer offscreen: it must extract its sample ZIP, read the GPS
# position of its sample JPEG and save a non-empty PNG screenshot.
#   run.sh <explorer executable>
set -euo pipefail
explorer=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

env -u DISPLAY -u WAYLAND_DISPLAY "$explorer" --screenshot "$work/shot.png" | tee "$work/out.txt"

grep -Eq '^zip: [0-9]+ entries, [1-9][0-9]* extracted, 0 errors$' "$work/out.txt"
grep -Eq '^gps: latitude -?[0-9]+\.[0-9]{6} longitude -?[0-9]+\.[0-9]{6}' "$work/out.txt"
grep -q "^screenshot: $work/shot.png$" "$work/out.txt"
test -s "$work/shot.png"
# The PNG signature: 89 50 4E 47 0D 0A 1A 0A.
test "$(head -c 8 "$work/shot.png" | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a"
echo "explorer tour passed"
