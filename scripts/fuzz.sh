#!/usr/bin/env bash
# Builds the fuzz preset and runs the model loader fuzzer for a bounded time.
#
#   scripts/fuzz.sh [SECONDS]    (default 60)
#
# The corpus grows in build/fuzz/corpus across runs; reproducers land in build/fuzz/artifacts.
# Exits with libFuzzer's status, so non-zero means it found a crash, leak or timeout.
set -euo pipefail

seconds=${1:-60}
if ! [[ $seconds =~ ^[0-9]+$ ]] || ((seconds == 0)); then
    echo "usage: $0 [SECONDS]" >&2
    exit 2
fi

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

if ! command -v clang++ >/dev/null; then
    apt-get update
    apt-get install -y clang libclang-rt-14-dev
fi

cmake --preset fuzz
cmake --build --preset fuzz

build=$root/build/fuzz
seeds=$build/corpus-seeds
corpus=$build/corpus
artifacts=$build/artifacts
rm -rf "$seeds"
"$build/fuzz/brennic-fuzz-seeds" "$seeds"
mkdir -p "$corpus" "$artifacts"

# UBSan stops at the first report (the build sets no recovery); make it say where.
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

# New inputs go to the first folder; the seeds are only read.
status=0
"$build/fuzz/fuzz_model_load" \
    -max_total_time="$seconds" \
    -max_len=4096 \
    -timeout=10 \
    -rss_limit_mb=2048 \
    -dict="$root/fuzz/model.dict" \
    -artifact_prefix="$artifacts/" \
    -print_final_stats=1 \
    "$corpus" "$seeds" || status=$?

if ((status != 0)); then
    echo "fuzz: libFuzzer exited with $status; reproducers are in $artifacts" >&2
fi
exit "$status"
