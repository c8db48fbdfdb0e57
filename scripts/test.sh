#!/usr/bin/env bash
# Every test: installs what is missing, builds and runs the test suite in the debug build,
# fuzzes the loader and the DDS decoder briefly, checks the Windows module (binutils, then Wine
# in a real window), then builds and runs the suite under AddressSanitizer +
# UndefinedBehaviorSanitizer (leak checks included).
#   scripts/test.sh            (FUZZ_SECONDS, split between the two fuzzers; 0 skips them; default 30)
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
model_seconds=$(((fuzz_seconds + 1) / 2))
dds_seconds=$((fuzz_seconds / 2))
if ((model_seconds > 0)); then
    echo "== fuzzing the loader for $model_seconds s"
    scripts/fuzz.sh model "$model_seconds"
fi
if ((dds_seconds > 0)); then
    echo "== fuzzing the DDS decoder for $dds_seconds s"
    scripts/fuzz.sh dds "$dds_seconds"
fi

echo "== the Windows module"
scripts/windows-checks.sh

run_suite asan
