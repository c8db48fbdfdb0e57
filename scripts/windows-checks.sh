#!/usr/bin/env bash
# The Windows module: cross-compiles the shipped 32-bit BrennicMeshImport.dli and reads it
# back with binutils, then runs a 64-bit build of the same sources under Wine in a real
# window. Screenshots and the test host's output go to build/test-output/windows.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
for preset in windows32 windows64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done
cmake --preset dev >/dev/null
cmake --build --preset dev --target sample

echo "== the 32-bit module, read with binutils"
plugin/tests/windows/check-module.sh build/windows32/plugin/BrennicMeshImport.dli resources
echo "== the 64-bit module under Wine"
plugin/tests/windows/wine-import.sh build/windows64 build/dev/sample/content/meshes/props/storage.model build/test-output/windows
