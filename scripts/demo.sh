#!/usr/bin/env bash
# Installs the dependencies, builds the module and starts the example that
# imports it. Without a display it runs offscreen and prints what it found.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --parallel "$(nproc)"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    export QT_QPA_PLATFORM=offscreen
fi
exec /usr/lib/qt5/bin/qml -I build/qml examples/hello/main.qml
