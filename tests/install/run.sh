#!/usr/bin/env bash
# Installs the build into a temporary prefix, imports the module from there in
# a QML engine, and builds and runs a native host against the installed
# CMake package.
#   run.sh <build dir> <source dir of this test> <qml tool> <CMake package name>
#          [<extra C++ flags> [<runtimes to preload>]]
set -euo pipefail
build=$1
here=$2
qml=$3
package=$4
cxxflags=${5:-}
# The qml tool is not instrumented: a sanitizer build's plugin needs the
# sanitizer runtimes loaded first.
preload=${6:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" > "$work/install.log"
qmldir=$(dirname "$(find "$work/prefix" -path '*/Quil/MaporaExtras/qmldir' | head -n 1)")
test -f "$qmldir/plugins.qmltypes"
test -f "$work/prefix/include/$package/FileUtility.h"
importdir=${qmldir%/Quil/MaporaExtras}
echo "installed module: $qmldir"

# The qml tool exits non-zero when the root object is no window; the log tells.
env QT_QPA_PLATFORM=offscreen ${preload:+LD_PRELOAD=$preload ASAN_OPTIONS=detect_leaks=0} \
    "$qml" -I "$importdir" "$here/import.qml" > "$work/qml.log" 2>&1 || true
grep -q "installed module works" "$work/qml.log" || { cat "$work/qml.log"; exit 1; }

cmake -S "$here/consumer" -B "$work/consumer" -G Ninja -DCMAKE_PREFIX_PATH="$work/prefix" \
      -DMAPORA_PACKAGE="$package" -DCMAKE_CXX_FLAGS="$cxxflags" > "$work/configure.log"
cmake --build "$work/consumer" > "$work/build.log"
"$work/consumer/host"
