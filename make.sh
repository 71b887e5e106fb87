#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds Tolvane on Debian 12.
#   ./make.sh run    install what is missing, build a Release, install it into
#                    the archive folder (TOLVANE_HOME, default ~/Tolvane), give the
#                    desktop its menu entry and icon, start it
#   ./make.sh test   install what is missing, build, run every test headless
#   ./make.sh sanitize  the same with AddressSanitizer + UndefinedBehaviorSanitizer
#                    (build/asan); any sanitizer report fails its test
#   ./make.sh fuzz   build the libFuzzer targets of fuzz/ with clang (build/fuzz)
#                    and run each for FUZZ_SECONDS (default 60) from its seeds
set -eu
cd "$(dirname "$0")"

PACKAGES="build-essential cmake pkg-config qt6-base-dev qt6-base-dev-tools qt6-image-formats-plugins libgl-dev \
libturbojpeg0-dev libjpeg-dev libtiff-dev libsane-dev libsane1 sane-utils sane-airscan libheif-dev libde265-0 libdav1d6 libaom3 libx265-199 fonts-ipafont-gothic xvfb xauth \
cups libicu-dev libtesseract-dev tesseract-ocr-jpn tesseract-ocr-jpn-vert tesseract-ocr-eng libpoppler-qt6-dev libqpdf-dev"
# Recognised text: Tesseract with its Japanese and English language data; the
# search folds text with ICU; PDF files are read with poppler and written
# with qpdf.
# Printing goes through CUPS: Qt's CUPS plug-in (libcupsprintersupport.so) is
# part of libqt6printsupport6, which qt6-base-dev brings. The print tests run
# a scheduler of their own with a cups-pdf queue and read the PDFs back with
# poppler.
TEST_PACKAGES="libgtest-dev libbenchmark-dev clang libclang-rt-14-dev xvfb xauth xclip \
cups printer-driver-cups-pdf poppler-utils qpdf samba smbnetfs fuse3 faketime desktop-file-utils appstream groff-base"
# The network-drive tests run a private Samba server on 127.0.0.1 and mount
# its share twice through FUSE with smbnetfs, one client per mount; faketime
# puts one of them off the server's clock. The desktop entry and the metainfo
# are checked with desktop-file-validate and appstreamcli, the manual page of
# tolvane-batch with groff.

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

# Any sanitizer report ends the program with a failure. LeakSanitizer runs too;
# the suppressions name only leaks of the system libraries at exit.
sanitizer_env() {
    # intercept_tls_get_addr=0: GCC 12's runtime takes a dynamic TLS block
    # (a thread_local of a dlopen'ed module: tolvane-batch's commands, the
    # recognition module, Qt's plug-ins) whose address lies 16 bytes past a
    # page for a block with the header of glibc 2.19, reads the allocator's
    # chunk header as its bounds and crashes in the leak check at exit
    # ("Tracer caught signal 11"). Without the interceptor those blocks are
    # still scanned as heap blocks, reached through the thread's DTV.
    export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:check_initialization_order=1:strict_init_order=1:intercept_tls_get_addr=0"
    export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:report_error_type=1"
    export LSAN_OPTIONS="suppressions=$PWD/tests/sanitizers/lsan.supp:print_suppressions=0"
}

case "${1:-}" in
run)
    install_missing $PACKAGES
    cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DTOLVANE_BUILD_TESTS=OFF -DTOLVANE_BUILD_BENCH=OFF
    cmake --build build/release -j "$jobs"
    dest="${TOLVANE_HOME:-$HOME/Tolvane}"
    cmake --install build/release --prefix "$dest"
    # The desktop's menu and "Open with" (app/desktop/install-desktop.sh --remove takes it away).
    "$dest/share/tolvane/install-desktop.sh" "$dest"
    cd "$dest"
    exec ./tolvane
    ;;
test)
    install_missing $PACKAGES $TEST_PACKAGES
    cmake -S . -B build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo
    cmake --build build/test -j "$jobs"
    cd build/test
    # The packages above bring the network-drive rig: its tests must run.
    TOLVANE_REQUIRE_SMB=1 QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$jobs"
    ;;
sanitize)
    install_missing $PACKAGES $TEST_PACKAGES
    sanitizer_env
    # Exported for the build too: test discovery runs the test programs.
    cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLVANE_SANITIZE=ON -DTOLVANE_BUILD_BENCH=OFF
    cmake --build build/asan -j "$jobs"
    cd build/asan
    TOLVANE_REQUIRE_SMB=1 QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$jobs"
    ;;
fuzz)
    install_missing $PACKAGES $TEST_PACKAGES
    sanitizer_env
    cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLVANE_FUZZ=ON \
        -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14
    cmake --build build/fuzz -j "$jobs"
    exec ./fuzz/run.sh build/fuzz/fuzz "${FUZZ_SECONDS:-60}"
    ;;
*)
    echo "usage: $0 run|test|sanitize|fuzz" >&2
    exit 2
    ;;
esac
