#!/usr/bin/env bash
# Every test: installs what is missing, checks the sources' formatting and that the module's sources are strict
# C++03 (the host's compiler knows nothing later), builds and runs the test suite in the debug build,
# imports through the Blender add-on in Blender with that build's brennic-import, fuzzes the loader,
# the DDS decoder and the whole conversion briefly, checks the Windows module (binutils, then Wine in
# a real window), then builds and runs the suite under AddressSanitizer +
# UndefinedBehaviorSanitizer (leak checks included).
#   scripts/test.sh            (FUZZ_SECONDS, split between the three fuzzers; 0 skips them; default 60)
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

echo "== formatting"
scripts/check-format.sh

echo "== the module's sources as C++03"
scripts/check-cxx03.sh

run_suite() {
    echo "== $1 build"
    cmake --preset "$1" >/dev/null
    cmake --build --preset "$1"
    ctest --preset "$1"
}

run_suite dev

echo "== the Blender add-on in Blender"
blender/tests/run-blender-tests.sh build/dev

# Each fuzz target runs a third of FUZZ_SECONDS.
fuzz_seconds=${FUZZ_SECONDS:-60}
for target in model dds convert; do
    if ((fuzz_seconds / 3 > 0)); then
        echo "== fuzzing $target for $((fuzz_seconds / 3)) s"
        scripts/fuzz.sh "$target" "$((fuzz_seconds / 3))"
    fi
done

echo "== the Windows module"
scripts/windows-checks.sh

run_suite asan
