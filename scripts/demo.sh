#!/usr/bin/env bash
# Runs the desktop program against a virtual instrument, in a settings folder of their own, so a
# new user can connect and capture a screen at once. It builds nothing.
#
#   scripts/demo.sh [BUILD_DIR] [PROGRAM_ARGUMENTS...]
#
# BUILD_DIR defaults to ./build; DEMO_PORT (default 3) chooses the instrument's COM number.
# The instrument answers at the real line speed, so a capture takes about a minute.
set -euo pipefail

build_dir=${1:-./build}
[ $# -gt 0 ] && shift
port=${DEMO_PORT:-3}
bin_dir="$build_dir/bin"

for program in corvane-virtual-meter corvane-snaploom; do
    if [ ! -x "$bin_dir/$program" ]; then
        echo "demo: $bin_dir/$program not found; build the project first, e.g." >&2
        echo "      cmake -S . -B $build_dir && cmake --build $build_dir -j2" >&2
        exit 1
    fi
done
if ! [[ "$port" =~ ^[0-9]+$ ]]; then
    echo "demo: DEMO_PORT must be a number, not '$port'" >&2
    exit 1
fi

# A fresh settings folder: the user's own settings and ports are never touched.
home=$(mktemp -d "${TMPDIR:-/tmp}/snaploom-demo.XXXXXX")
export SNAPLOOM_HOME="$home"
mkdir -p "$home/ports"
printf '[COM]\nPort=%s\n' "$port" > "$home/CorvaneSnaploom.INI"

meter_pid=
cleanup() {
    if [ -n "$meter_pid" ] && kill -0 "$meter_pid" 2>/dev/null; then
        kill -TERM "$meter_pid" 2>/dev/null || true
        wait "$meter_pid" 2>/dev/null || true
    fi
    rm -rf "$home"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

"$bin_dir/corvane-virtual-meter" --com "$port" --pace > "$home/virtual-meter.log" 2>&1 &
meter_pid=$!

# The instrument links itself as COM<n> once its line is open.
for _ in $(seq 100); do
    [ -e "$home/ports/COM$port" ] && break
    if ! kill -0 "$meter_pid" 2>/dev/null; then
        echo "demo: the virtual instrument did not start:" >&2
        cat "$home/virtual-meter.log" >&2
        exit 1
    fi
    sleep 0.1
done
if [ ! -e "$home/ports/COM$port" ]; then
    echo "demo: the virtual instrument did not link COM$port in time" >&2
    exit 1
fi

# Without a display the desktop program cannot start; the same capture then runs through the
# command-line tool, which shares its link and capture code.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    out="$PWD/demo-capture.bmp"
    echo "No display here: identifying and capturing with the command-line tool instead."
    echo "A virtual instrument answers on COM$port ($(readlink "$home/ports/COM$port"))."
    "$bin_dir/snaploom" identify --port "COM$port"
    echo "Capturing at the real line speed (about a minute) to $out ..."
    rm -f "$out"
    "$bin_dir/snaploom" capture --port "COM$port" -o "$out"
    exit $?
fi

cat <<TEXT
A virtual instrument answers on COM$port ($(readlink "$home/ports/COM$port")).
In Corvane Snaploom: Files > Connect (Ctrl+Enter), then Files > Capture screen (Ctrl+N).
The picture comes in at the real line speed, in about a minute; save it with Ctrl+S.
TEXT

# The trap above stops the instrument and removes the folder however the program ends.
"$bin_dir/corvane-snaploom" "$@"
