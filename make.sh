#!/bin/sh
# Builds Tolvane on Debian 12.
#   ./make.sh run    install what is missing, build a Release, install it into
#                    the archive folder (TOLVANE_HOME, default ~/Tolvane), start it
#   ./make.sh test   install what is missing, build, run every test headless
set -eu
cd "$(dirname "$0")"

PACKAGES="build-essential cmake pkg-config qt6-base-dev qt6-base-dev-tools qt6-image-formats-plugins libgl-dev \
libturbojpeg0-dev libjpeg-dev libtiff-dev fonts-ipafont-gothic xvfb xauth"
TEST_PACKAGES="libgtest-dev libbenchmark-dev clang libclang-rt-14-dev"

install_missing() {
    missing=""
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
    done
    [ -z "$missing" ] && return 0
    echo "Installing:$missing"
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO=sudo
    $SUDO apt-get update
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends $missing
}

jobs=$(nproc 2>/dev/null || echo 2)

case "${1:-}" in
run)
    install_missing $PACKAGES
    cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DTOLVANE_BUILD_TESTS=OFF -DTOLVANE_BUILD_BENCH=OFF
    cmake --build build/release -j "$jobs"
    dest="${TOLVANE_HOME:-$HOME/Tolvane}"
    cmake --install build/release --prefix "$dest"
    cd "$dest"
    exec ./tolvane
    ;;
test)
    install_missing $PACKAGES $TEST_PACKAGES
    cmake -S . -B build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo
    cmake --build build/test -j "$jobs"
    cd build/test
    QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$jobs"
    ;;
*)
    echo "usage: $0 run|test" >&2
    exit 2
    ;;
esac
