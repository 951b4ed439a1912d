#!/usr/bin/env bash
# The checking build: every test again under AddressSanitizer and UndefinedBehaviorSanitizer
# (the programs the tests start included), built with clang when it is there, which also builds
# the fuzzers. Any sanitizer report fails the run, even one from a program whose test passed.
# The tests run side by side, two a core, as in the README's test command.
#   scripts/sanitize.sh [build folder, default build-sanitize] [build|test, default both]
# Run scripts/setup.sh once before, on a fresh machine, for the packages.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-sanitize}
steps=${2:-build test}

if [[ $steps == *build* ]]; then
    compiler=$(command -v clang++-14 || command -v clang++ || command -v g++)
    launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    # -O1 keeps the build and the run quick while the reports keep their lines.
    cmake -S . -B "$build" -DCMAKE_CXX_COMPILER="$compiler" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS=-O1 \
          -DSNAPLOOM_SANITIZERS=ON -DSNAPLOOM_BENCHMARKS=OFF "${launcher[@]}"
    cmake --build "$build" -j"$(nproc)"
fi
[[ $steps == *test* ]] || exit 0

reports=$(pwd)/$build/sanitizer-reports
rm -rf "$reports"
mkdir -p "$reports"
source scripts/sanitizer-env.sh
sanitizer_environment "$reports"

status=0
(cd "$build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$((2 * $(nproc)))") || status=$?
if compgen -G "$reports/*" >/dev/null; then
    for report in "$reports"/*; do
        echo "==== sanitizer report $report"
        cat "$report"
    done
    echo "Sanitizer reports found: the checking build fails." >&2
    status=1
fi
exit $status
