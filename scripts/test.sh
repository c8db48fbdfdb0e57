#!/usr/bin/env bash
# Every test: installs what is missing, builds and runs the test suite in the debug build,
# fuzzes the loader briefly, checks the Windows module (binutils, then Wine in a real
# window), then builds and runs the suite under AddressSanitizer + UndefinedBehaviorSanitizer
# (leak checks included).
#   scripts/test.sh            (FUZZ_SECONDS=0 skips the fuzzing run; default 30)
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

run_suite() {
    echo "== $1 build"
    cmake --preset "$1" >/dev/null
    cmake --build --preset "$1"
    ctest --preset "$1"
}

run_suite dev

fuzz_seconds=${FUZZ_SECONDS:-30}
if ((fuzz_seconds > 0)); then
    echo "== fuzzing the loader for $fuzz_seconds s"
    scripts/fuzz.sh "$fuzz_seconds"
fi

echo "== the Windows module"
scripts/windows-checks.sh

run_suite asan
