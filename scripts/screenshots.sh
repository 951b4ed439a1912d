#!/usr/bin/env bash
# Makes docs/main-window.png, docs/about-box.png and docs/zoomed-picture.png: the desktop program on the virtual
# instrument, after a connect and a capture, drawn on a virtual X display (Xvfb).
#
#   scripts/screenshots.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

if ! command -v xvfb-run >/dev/null; then
    echo "screenshots: xvfb-run not found; install it with: apt-get install xvfb xauth" >&2
    exit 1
fi
cmake --build "$build" -j"$(nproc)" --target snaploom-screenshots
mkdir -p docs
# Without the desktop's own settings, so the pictures look the same on every machine.
env -u QT_QPA_PLATFORM -u QT_STYLE_OVERRIDE \
    xvfb-run -a -s "-screen 0 1280x800x24" "$build/packaging/snaploom-screenshots" docs
echo "screenshots: wrote docs/main-window.png, docs/about-box.png and docs/zoomed-picture.png"
