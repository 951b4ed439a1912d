#!/usr/bin/env bash
# Set-up on a fresh Debian machine (run as root, or with sudo available):
#   scripts/setup.sh demo   install what is missing, build, and run the desktop program on the
#                           virtual instrument
#   scripts/setup.sh test   install what is missing, build, and run every test
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-test}
build=${BUILD_DIR:-build}
packages=(build-essential cmake qt6-base-dev qt6-serialport-dev libqt6serialport6 qt6-qpa-plugins
          libgl-dev)
# The splash's X11 flush (libxcb1-dev), and the tests on a real X display with real key presses.
packages+=(libxcb1-dev xvfb xdotool x11-utils)

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

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j"$(nproc)"

case "$mode" in
    test)
        cd "$build"
        QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 600
        ;;
    demo)
        exec ./scripts/demo.sh "$build"
        ;;
    *)
        echo "usage: $0 [demo|test]" >&2
        exit 2
        ;;
esac
