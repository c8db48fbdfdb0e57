#!/usr/bin/env bash
# The Windows test module: cross-compiles the 32-bit BrennicMeshImport.dli with mingw-w64 and
# reads it back with binutils, then runs a 64-bit build of the same sources under Wine in a real
# window. Screenshots and the test host's output go to build/test-output/windows.
#
# This module is the plug-in linked against the stand-in host (BrennicStandInHost.dll), for
# testing its exports, resources and dialog on Windows: 3ds Max cannot load it. The module for
# 3ds Max is built with Visual C++ 9.0 against the host's SDK (README, "Building for 3ds Max").
#   scripts/windows-checks.sh [--help]
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${1:-}" = --help ]; then
    sed -n '2,/^set -euo/{/^set -euo/d;s/^# \{0,1\}//;p}' "$0"
    exit 0
fi

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
