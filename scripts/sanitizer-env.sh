# Sourced by scripts/sanitize.sh and scripts/fuzz.sh: how AddressSanitizer, LeakSanitizer and
# UndefinedBehaviorSanitizer report, the same for the tests and the fuzzers.
#   sanitizer_environment [folder]   with a folder, each report goes to a file in it (programs the
#                                    tests start included); without, to standard error
sanitizer_environment() {
    local scripts
    scripts=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
    local asan="halt_on_error=1:detect_leaks=1"
    local ubsan="halt_on_error=1:print_stacktrace=1"
    if [ -n "${1:-}" ]; then
        asan+=":log_path=$1/asan"
        ubsan+=":log_path=$1/ubsan"
    fi
    export ASAN_OPTIONS=$asan UBSAN_OPTIONS=$ubsan
    export LSAN_OPTIONS="suppressions=$scripts/lsan.supp:print_suppressions=0"
    local symbolizer=/usr/lib/llvm-14/bin/llvm-symbolizer
    if [ -x "$symbolizer" ]; then
        export ASAN_SYMBOLIZER_PATH=$symbolizer UBSAN_SYMBOLIZER_PATH=$symbolizer
    fi
}
