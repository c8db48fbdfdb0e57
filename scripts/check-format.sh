#!/usr/bin/env bash
# Checks that every C++ source follows .clang-format (clang-format 14, as Debian 12 has it).
#   scripts/check-format.sh          report the files that differ; exit 1 if any
#   scripts/check-format.sh --fix    reformat them in place
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t sources < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = --fix ]; then
    clang-format -i "${sources[@]}"
    exit 0
fi
differing=()
for source in "${sources[@]}"; do
    clang-format --dry-run --Werror "$source" >/dev/null 2>&1 || differing+=("$source")
done
if ((${#differing[@]} > 0)); then
    echo "not formatted as .clang-format says (scripts/check-format.sh --fix reformats them):"
    printf '  %s\n' "${differing[@]}"
    exit 1
fi
echo "formatting: ${#sources[@]} files follow .clang-format"
