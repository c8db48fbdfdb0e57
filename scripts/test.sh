#!/usr/bin/env bash
# Every test: installs what is missing, builds and runs the test suite in the debug build
# and under AddressSanitizer + UndefinedBehaviorSanitizer, and a short fuzzing run.
#   scripts/test.sh            (FUZZ_SECONDS=0 skips the fuzzing run)
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

for preset in dev asan; do
    echo "== $preset build"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
    ctest --preset "$preset"
done

if [ "${FUZZ_SECONDS:-30}" -gt 0 ]; then
    echo "== fuzzing the loader for ${FUZZ_SECONDS:-30} s"
    scripts/fuzz.sh "${FUZZ_SECONDS:-30}"
fi
