#!/usr/bin/env bash
# Installs the dependencies, builds the module and runs the whole test suite:
# the Qt 5 build, the Qt 5 AddressSanitizer+UBSan build and the Qt 6 build,
# each through CTest, then installs the Qt 5 and the Qt 6 build into one
# prefix and uses each from there.
#   scripts/test.sh            all three builds
#   scripts/test.sh --quick    the Qt 5 build only
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc)
run_suite() {
    local dir=$1; shift
    echo "=== $dir"
    cmake -S . -B "$dir" -G Ninja "$@"
    cmake --build "$dir" --parallel "$jobs"
    ctest --test-dir "$dir" --output-on-failure --timeout 600 -j "$jobs"
}

run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
if [ "${1:-}" != "--quick" ]; then
    run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DMAPORA_SANITIZE=ON
    run_suite build-qt6 -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMAPORA_QT_MAJOR=6
    echo "=== both majors in one prefix"
    bash tests/install/side_by_side.sh build build-qt6
fi
