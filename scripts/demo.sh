#!/usr/bin/env bash
# Installs the dependencies, builds the module and starts the explorer example.
# With a display it opens a window; without one it renders offscreen, runs
# its tour over the sample ZIP and JPEG and prints the screenshots' paths.
#   scripts/demo.sh [--qt6] [explorer options, e.g. --screenshot shot.png]
set -euo pipefail
cd "$(dirname "$0")/.."

build=build
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "${1:-}" = "--qt6" ]; then
    shift
    build=build-qt6
    options+=(-DMAPORA_QT_MAJOR=6)
fi

bash scripts/install-deps.sh
cmake -S . -B "$build" -G Ninja "${options[@]}"
cmake --build "$build" --parallel "$(nproc)"
exec "$build/examples/explorer/maporaextras-explorer" "$@"
