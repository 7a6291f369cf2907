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
run_ctest() {
    local dir="$1"; shift
    echo "=== ctest in $dir $*"
    local log
    log="$(mktemp)"
    set +e
    (cd "$dir" && ctest --output-on-failure "$@") 2>&1 | tee "$log"
    set -e
    # "NN% tests passed, F tests failed out of T"
    local line total bad
    line="$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1 || true)"
    if [ -z "$line" ]; then
        failed=$((failed + 1))
    else
        bad="$(echo "$line" | sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/')"
        total="$(echo "$line" | sed -E 's/.* failed out of ([0-9]+).*/\1/')"
        passed=$((passed + total - bad))
        failed=$((failed + bad))
    fi
    rm -f "$log"
}

run_ctest build/asan -j2
run_ctest build/tsan -R Concurrency
run_ctest build/mingw
run_ctest build/release

echo "=== benchmark (figures only)"
build/release/tests/link_bench --benchmark_min_time=0.2 || failed=$((failed + 1))

echo "all: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
