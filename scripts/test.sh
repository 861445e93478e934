#!/usr/bin/env bash
# Installs the dependencies, builds the module and runs the whole test suite,
# first in a normal build and then in the AddressSanitizer+UBSan build.
#   scripts/test.sh            both builds
#   scripts/test.sh --quick    the normal build only
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc)
run_suite() {
    local dir=$1; shift
    cmake -S . -B "$dir" -G Ninja "$@"
    cmake --build "$dir" --parallel "$jobs"
    ctest --test-dir "$dir" --output-on-failure --timeout 600 -j "$jobs"
}

run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
if [ "${1:-}" != "--quick" ]; then
    run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DMAPORA_SANITIZE=ON
fi
