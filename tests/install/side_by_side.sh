#!/usr/bin/env bash
# Installs a Qt 5 and a Qt 6 build into one prefix, then uses each from
# there: QML imports the module with that major's qml tool, and a native
# host builds against that major's CMake package.
#   side_by_side.sh <Qt 5 build dir> <Qt 6 build dir>
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cache() { sed -n "s/^$2:[A-Z]*=//p" "$1/CMakeCache.txt"; }
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

for build in "$1" "$2"; do
    cmake --install "$build" --prefix "$prefix" > /dev/null
done
for build in "$1" "$2"; do
    package=QuilMaporaExtras
    [ "$(cache "$build" MAPORA_QT_MAJOR)" = 6 ] && package=QuilMaporaExtras-Qt6
    bash "$here/use.sh" "$build" "$prefix" "$here" "$(cache "$build" MAPORA_QML_TOOL)" "$package"
done
echo "both majors installed side by side"
