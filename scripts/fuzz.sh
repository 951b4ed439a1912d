#!/usr/bin/env bash
# Runs every fuzzer of the checking build for a fixed time each, starting from its seeds in
# fuzz/corpus/. A crash, a broken check, a leak, an input that takes longer than 10 s or an
# allocation beyond 64 MiB stops that fuzzer with an error, and the input that did it is kept
# in <build>/fuzz-findings/.
#   scripts/fuzz.sh [seconds each, default 30] [build folder, default build-sanitize]
# Build the fuzzers first with scripts/sanitize.sh (clang).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
build=${2:-build-sanitize}
findings=$(pwd)/$build/fuzz-findings
mkdir -p "$findings"
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
symbolizer=/usr/lib/llvm-14/bin/llvm-symbolizer
if [ -x "$symbolizer" ]; then
    export ASAN_SYMBOLIZER_PATH=$symbolizer UBSAN_SYMBOLIZER_PATH=$symbolizer
fi

status=0
ran=0
for seeds in fuzz/corpus/*/; do
    name=$(basename "$seeds")
    fuzzer=$build/bin/$name
    if [ ! -x "$fuzzer" ]; then
        echo "Missing fuzzer $fuzzer: build it with scripts/sanitize.sh (needs clang)." >&2
        status=1
        continue
    fi
    # New inputs go to a scratch corpus; the seeds in the tree are only read.
    scratch=$(mktemp -d)
    echo "==== $name for ${seconds}s"
    if ! "$fuzzer" -max_total_time="$seconds" -timeout=10 -malloc_limit_mb=64 -rss_limit_mb=2048 \
            -print_final_stats=1 -artifact_prefix="$findings/$name-" "$scratch" "$seeds" 2>"$findings/$name.log"; then
        tail -n 60 "$findings/$name.log"
        echo "Fuzzer $name failed; its input is in $findings." >&2
        status=1
    else
        grep -E '^(#[0-9]+.*DONE|stat::number_of_executed_units|stat::peak_rss_mb)' "$findings/$name.log" || true
    fi
    rm -rf "$scratch"
    ran=$((ran + 1))
done
[ "$ran" -gt 0 ] || { echo "No fuzz corpora found." >&2; status=1; }
exit $status
