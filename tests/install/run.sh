#!/usr/bin/env bash
# Installs the build into a temporary prefix, imports the module from there in
# a QML engine, and builds and runs a native host against the installed
# CMake package.
#   run.sh <build dir> <source dir of this test> <qml tool> <CMake package name>
#          [<extra C++ flags> [<runtimes to preload>]]
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$1" --prefix "$work/prefix" > "$work/install.log"
bash "$2/use.sh" "$1" "$work/prefix" "${@:2}"
