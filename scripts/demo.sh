#!/usr/bin/env bash
# Installs the dependencies, builds the module and starts the explorer example.
# With a display it opens a window; without one it renders offscreen, runs
# its tour over the sample ZIP and JPEG and prints the screenshots' paths.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --parallel "$(nproc)"
exec build/examples/explorer/maporaextras-explorer "$@"
