#!/usr/bin/env bash
# Runs one test program on an X display of its own: a fresh Xvfb on a free display number,
# with DISPLAY and QT_QPA_PLATFORM=xcb set for the program. Several can run side by side.
#
#   run-on-xvfb.sh [--screen WIDTHxHEIGHT] PROGRAM [ARGUMENTS...]
#
# The screen is 1280x1024 unless --screen gives another size (a laptop's 1280x800, say).
# Exits 77 (ctest: skipped) where no X server can be started or xdotool, which the tests use for
# real key presses, is missing; scripts/setup.sh installs both.
set -u

screen=1280x1024
if [ "${1:-}" = "--screen" ]; then
    screen=$2
    shift 2
fi

for tool in Xvfb xdotool xprop; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIP: $tool is not installed (scripts/setup.sh installs it)"
        exit 77
    fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/snaploom-xvfb.XXXXXX")
xvfb_pid=
test_pid=
cleanup() {
    [ -n "$test_pid" ] && kill "$test_pid" 2>/dev/null
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null
        wait "$xvfb_pid" 2>/dev/null
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# -displayfd picks a free display number and writes it. The server lives as long as this script:
# a test may start and end several programs of its own on it.
Xvfb -displayfd 3 -screen 0 "${screen}x24" -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
# Should this script be killed outright (a ctest timeout), the server goes with it.
script_pid=$$
( while kill -0 "$script_pid" 2>/dev/null; do sleep 1; done; kill "$xvfb_pid" 2>/dev/null ) &

for _ in $(seq 200); do
    [ -s "$work/display" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.05
done
if [ ! -s "$work/display" ]; then
    echo "SKIP: Xvfb did not start"
    cat "$work/xvfb.log"
    exit 77
fi

export DISPLAY=":$(head -n1 "$work/display")"
export QT_QPA_PLATFORM=xcb
# In the background, so a signal to this script is handled at once and ends the test too.
"$@" &
test_pid=$!
wait "$test_pid"
status=$?
test_pid=
exit "$status"
