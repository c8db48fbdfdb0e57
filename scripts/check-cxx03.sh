#!/usr/bin/env bash
# Checks that every source of the module (model/, scene/, plugin/, and each header they include)
# is C++03, as Visual C++ 9.0, the host's compiler, reads it: each is compiled alone, strictly,
# by g++ and clang++ against the stand-in Windows headers and by i686-w64-mingw32-g++ against the
# real ones (the Windows file list). Warnings are errors, narrowing conversions among them as the
# host's compiler warns of them at /W4; `long long` is allowed, since that compiler has it.
# Exit 1 if any source fails.
#   scripts/check-cxx03.sh
set -uo pipefail
cd "$(dirname "$0")/.."

strict=(-std=c++03 -pedantic-errors -Wno-long-long -Wall -Wextra -Wconversion -Wno-sign-conversion -Werror -fsyntax-only)
includes=(-Imodel -Iscene -Iplugin -Iresources)

# Every module source but the file calls of the other platform: the POSIX mapping and the
# case-insensitive lookup never reach the module, and the Win32 mapping is the module's.
posix=() windows=()
for source in model/*.cpp scene/*.cpp plugin/*.cpp; do
    case "$source" in
    model/FileMappingPosix.cpp | model/FolderListingsPosix.cpp | model/PathLookup.cpp) ;;
    model/FileMappingWin32.cpp) windows+=("$source") ;;
    *) posix+=("$source") windows+=("$source") ;;
    esac
done

checked=0 failed=0
check() { # check COMPILER SOURCE FLAGS...
    local compiler=$1 source=$2
    checked=$((checked + 1))
    if ! output=$("$compiler" "${strict[@]}" "${includes[@]}" "${@:3}" "$source" 2>&1); then
        failed=$((failed + 1))
        echo "FAIL $compiler $source"
        sed 's/^/    /' <<<"$output" | head -20
    fi
}

for source in "${posix[@]}"; do
    check g++ "$source" -Ihost/win32
    check clang++ "$source" -Ihost/win32
done
for source in "${windows[@]}"; do
    check i686-w64-mingw32-g++-win32 "$source" -include plugin/win32/IsolationAware.h
done

if ((failed > 0)); then
    echo "C++03: $failed of $checked compilations failed: the host's compiler knows C++03 and TR1, nothing later"
    exit 1
fi
echo "C++03: $checked compilations of the module's sources, strict, without a warning"
