#!/usr/bin/env bash
# Uses a build installed into <prefix>: imports the module in a QML engine and
# builds and runs a native host against the installed CMake package.
#   use.sh <build dir> <prefix> <source dir of this test> <qml tool> <CMake package name>
#          [<extra C++ flags> [<runtimes to preload>]]
set -euo pipefail
build=$1
prefix=$2
here=$3
qml=$4
package=$5
cxxflags=${6:-}
# The qml tool is not instrumented: a sanitizer build's plugin needs the
# sanitizer runtimes loaded first.
preload=${7:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The module folder this build installed (the prefix may hold the other
# major's as well).
qmldir=$(dirname "$(grep '/Quil/MaporaExtras/qmldir$' "$build/install_manifest.txt")")
case "$qmldir" in "$prefix"/*) ;; *) echo "$qmldir is not below $prefix" >&2; exit 1 ;; esac
test -f "$qmldir/plugins.qmltypes"
test -f "$prefix/include/$package/FileUtility.h"
test -f "$(find "$prefix" -path "*/cmake/$package/${package}Config.cmake" | head -n 1)"
importdir=${qmldir%/Quil/MaporaExtras}
echo "installed module: $qmldir"

# The qml tool exits non-zero when the root object is no window; the log tells.
env QT_QPA_PLATFORM=offscreen ${preload:+LD_PRELOAD=$preload ASAN_OPTIONS=detect_leaks=0} \
    "$qml" -I "$importdir" "$here/import.qml" > "$work/qml.log" 2>&1 || true
grep -q "installed module works" "$work/qml.log" || { cat "$work/qml.log"; exit 1; }

cmake -S "$here/consumer" -B "$work/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
      -DMAPORA_PACKAGE="$package" -DCMAKE_CXX_FLAGS="$cxxflags" > "$work/configure.log"
cmake --build "$work/consumer" > "$work/build.log"
"$work/consumer/host"
