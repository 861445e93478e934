#!/usr/bin/env bash
# Installs the Debian packages that building, testing, benchmarking and
# fuzzing the module need. Safe to run any number of times: when every
# package is already present it returns without touching apt.
set -euo pipefail

packages=(
    # toolchain
    build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
    # Qt 5 and the QML runtime pieces the tests and the demo load
    qtbase5-dev qtdeclarative5-dev qtdeclarative5-dev-tools
    qml qmlscene qml-module-qttest qml-module-qtquick2
    qml-module-qtquick-window2 qml-module-qtquick-layouts
    qml-module-qtquick-controls2 qml-module-qt-labs-folderlistmodel
    # Qt 6 and the QML modules its tests, tools and the explorer load
    qt6-base-dev qt6-declarative-dev qt6-declarative-dev-tools qt6-5compat-dev
    qml-qt6 qml6-module-qttest qml6-module-qtqml qml6-module-qtqml-models
    qml6-module-qtqml-workerscript qml6-module-qtquick qml6-module-qtquick-window
    qml6-module-qtquick-layouts qml6-module-qtquick-controls
    qml6-module-qtquick-templates qt6-qpa-plugins
    # ZIP support (ISA-L inflates deflated entries, libdeflate deflates)
    libzip-dev zlib1g-dev libisal-dev libdeflate-dev
    # peers used by tests and benchmarks
    python3 zip unzip libarchive-tools 7zip time libimage-exiftool-perl
    libexif-dev libexiv2-dev iproute2 util-linux
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    echo "install-deps: all ${#packages[@]} packages present"
    exit 0
fi

echo "install-deps: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
