#!/usr/bin/env bash
# Runs every fuzzer of the checking build for a fixed time each, starting from its seeds in
# fuzz/corpus/, as many side by side as there are cores (FUZZ_JOBS to change it): each fuzzer
# keeps one core for its whole time. A crash, a broken check, a leak, an input that takes longer
# than 10 s or an allocation beyond 64 MiB stops that fuzzer with an error, and the input that did
# it is kept in <build>/fuzz-findings/.
#   scripts/fuzz.sh [seconds each, default 60] [build folder, default build-sanitize]
# Build the fuzzers first with scripts/sanitize.sh (clang).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=${2:-build-sanitize}
jobs=${FUZZ_JOBS:-$(nproc)}
findings=$(pwd)/$build/fuzz-findings
mkdir -p "$findings"
source scripts/sanitizer-env.sh
sanitizer_environment

# One fuzzer; its log is printed once it ends, so logs of fuzzers side by side do not mix.
fuzz_one() {
    local name=$1 seeds=$2
    local fuzzer=$build/bin/$name
    if [ ! -x "$fuzzer" ]; then
        echo "Missing fuzzer $fuzzer: build it with scripts/sanitize.sh (needs clang)." >&2
        return 1
    fi
    # New inputs go to a scratch corpus; the seeds in the tree are only read.
    local scratch
    scratch=$(mktemp -d)
    local status=0
    "$fuzzer" -max_total_time="$seconds" -timeout=10 -malloc_limit_mb=64 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$findings/$name-" "$scratch" "$seeds" 2>"$findings/$name.log" \
        || status=$?
    rm -rf "$scratch"
    echo "==== $name, ${seconds}s"
    if [ "$status" -ne 0 ]; then
        tail -n 60 "$findings/$name.log"
        echo "Fuzzer $name failed; its input is in $findings." >&2
        return 1
    fi
    grep -E '^(#[0-9]+.*DONE|stat::number_of_executed_units|stat::peak_rss_mb)' "$findings/$name.log" || true
    local units
    units=$(sed -n 's/^stat::number_of_executed_units: *//p' "$findings/$name.log")
    [ -n "$units" ] && echo "$name: $((units / seconds)) inputs a second"
    return 0
}

status=0
ran=0
running=0
for seeds in fuzz/corpus/*/; do
    if [ "$running" -ge "$jobs" ]; then
        wait -n || status=1
        running=$((running - 1))
    fi
    fuzz_one "$(basename "$seeds")" "$seeds" &
    running=$((running + 1))
    ran=$((ran + 1))
done
while [ "$running" -gt 0 ]; do
    wait -n || status=1
    running=$((running - 1))
done
[ "$ran" -gt 0 ] || { echo "No fuzz corpora found." >&2; status=1; }
exit $status
