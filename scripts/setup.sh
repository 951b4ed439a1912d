#!/usr/bin/env bash
# Set-up on a fresh Debian machine (run as root, or with sudo available):
#   scripts/setup.sh demo   install what is missing, build the three programs only, and run the
#                           desktop program on the virtual instrument
#   scripts/setup.sh test   install what is missing, build everything, and run every test
#   scripts/setup.sh packages   only install what the test run needs
# CI (.ci/run) then runs scripts/sanitize.sh and scripts/fuzz.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-test}
build=${BUILD_DIR:-build}
packages=(build-essential cmake qt6-base-dev qt6-serialport-dev libqt6serialport6 qt6-qpa-plugins
          libgl-dev)
# The splash's X11 flush.
packages+=(libxcb1-dev)
case "$mode" in
    demo) ;;
    # The test run also checks the installed tree (desktop entry, man pages, package) and runs the
    # tests on a real X display with real key presses. The checking build (scripts/sanitize.sh) and
    # the fuzzers (scripts/fuzz.sh) that CI runs next need clang with its sanitizer and libFuzzer
    # runtimes, and the symbolizer for readable reports.
    # The package test needs dpkg-dev and lintian, the completion test bash-completion.
    test|packages) packages+=(desktop-file-utils man-db appstream dpkg-dev fakeroot lintian bash-completion
                     xvfb xdotool x11-utils clang-14 libclang-rt-14-dev llvm-14) ;;
    *)
        echo "usage: $0 [demo|test|packages]" >&2
        exit 2
        ;;
esac

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    echo "Installing: ${missing[*]}"
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${missing[@]}"
fi

[ "$mode" = packages ] && exit 0

# Reproducible builds and packages: times written into them are the last commit's.
if [ -z "${SOURCE_DATE_EPOCH:-}" ] && epoch=$(git log -1 --format=%ct 2>/dev/null); then
    export SOURCE_DATE_EPOCH=$epoch
fi

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
case "$mode" in
    test)
        cmake --build "$build" -j"$(nproc)"
        cd "$build"
        # Most tests wait on lines paced like a real one and leave the cores idle: two a core.
        QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 600 -j"$((2 * $(nproc)))"
        ;;
    demo)
        # Only what the demo runs (and installs): no tests or benchmarks.
        cmake --build "$build" -j"$(nproc)" --target corvane-virtual-meter corvane-snaploom snaploom
        exec ./scripts/demo.sh "$build"
        ;;
esac
