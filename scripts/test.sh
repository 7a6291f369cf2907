#!/bin/bash
# Installs what is needed, builds every tree and runs every test:
# native unit tests with AddressSanitizer/UndefinedBehaviorSanitizer and a short
# fuzzing run, the concurrency test under ThreadSanitizer, the benchmark
# (figures printed, never asserted), and the Win32 tests under wine.
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

bash scripts/install-deps.sh
# The print tests need the print service and its PDF printers.
bash scripts/printers.sh
bash scripts/build.sh release asan tsan mingw

passed=0
failed=0
# Lines of a JUnit report written by ctest that match a pattern (0 when there is
# no report). Test output in the report has its "<" escaped, so a line that
# starts with an element is the report's own.
junit_lines() {
    local n
    n="$(grep -c -E "$1" "$2" 2>/dev/null)" || true
    echo "${n:-0}"
}
# ctest's exit status decides whether a tree passed; the counts for the closing
# line come from its JUnit report. A test that ctest could not run (no
# executable, say) is failed; one skipped by its test (SKIP_RETURN_CODE,
# SKIP_REGULAR_EXPRESSION) or disabled is neither. A failed run counts at least
# one failure even when no test result says so (no test matched, no tree).
run_ctest() {
    local dir="$1"; shift
    echo "=== ctest in $dir $*"
    local junit status=0 total ran skipped bad
    junit="$(mktemp)"
    (cd "$dir" && ctest --output-on-failure --no-tests=error --output-junit "$junit" "$@") || status=$?
    total="$(junit_lines '^\s*<testcase ' "$junit")"
    ran="$(junit_lines '^\s*<testcase .* status="run">' "$junit")"
    skipped=$(($(junit_lines '^\s*<skipped message="SKIP_' "$junit") +
               $(junit_lines '^\s*<testcase .* status="disabled">' "$junit")))
    bad=$((total - ran - skipped))
    if [ "$status" -ne 0 ] && [ "$bad" -eq 0 ]; then
        bad=1
    fi
    passed=$((passed + ran))
    failed=$((failed + bad))
    rm -f "$junit"
}

run_ctest build/asan -j2
run_ctest build/tsan -R Concurrency
run_ctest build/mingw
run_ctest build/release

echo "=== benchmark (figures only)"
build/release/tests/link_bench --benchmark_min_time=0.2 || failed=$((failed + 1))

echo "all: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
