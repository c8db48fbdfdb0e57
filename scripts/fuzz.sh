#!/usr/bin/env bash
# Builds the fuzz preset and runs one fuzzer for a bounded time.
#
#   scripts/fuzz.sh [TARGET] [SECONDS]    (TARGET: model, the default, dds or convert; SECONDS: 60)
#
# model fuzzes the model loader and scene building, dds the DDS decoder and the PNG codec,
# convert a whole conversion (import, textures, glTF and OBJ writers) of a model and a .dds. Each
# target's corpus grows in build/fuzz/corpus-TARGET across runs; reproducers land in
# build/fuzz/artifacts, named after the target. Exits with libFuzzer's status, so non-zero
# means it found a crash, leak or timeout.
set -euo pipefail

usage() {
    echo "usage: $0 [model|dds|convert] [SECONDS]" >&2
    exit 2
}

target=model
if (($# > 0)) && ! [[ $1 =~ ^[0-9]+$ ]]; then
    target=$1
    shift
fi
seconds=${1:-60}
if (($# > 1)) || ! [[ $seconds =~ ^[0-9]+$ ]] || ((seconds == 0)); then
    usage
fi

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$root/build/fuzz
case $target in
model)
    fuzzer=fuzz_model_load
    seeder=brennic-fuzz-seeds
    options=(-max_len=262144 -dict="$root/fuzz/model.dict") # room for files that amplify
    corpus=$build/corpus # the name it had when it was the only target
    ;;
dds)
    fuzzer=fuzz_dds
    seeder=brennic-fuzz-dds-seeds
    options=(-max_len=8192 -dict="$root/fuzz/dds.dict")
    corpus=$build/corpus-dds
    ;;
convert)
    fuzzer=fuzz_convert
    seeder=brennic-fuzz-convert-seeds
    options=(-max_len=262144 -dict="$root/fuzz/model.dict")
    corpus=$build/corpus-convert
    ;;
*)
    usage
    ;;
esac
cd "$root"

if ! command -v clang++ >/dev/null; then
    apt-get update
    apt-get install -y clang libclang-rt-14-dev
fi

cmake --preset fuzz
cmake --build --preset fuzz

seeds=$build/corpus-seeds-$target
artifacts=$build/artifacts
rm -rf "$seeds"
"$build/fuzz/$seeder" "$seeds"
mkdir -p "$corpus" "$artifacts"

# UBSan stops at the first report (the build sets no recovery); make it say where.
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

# New inputs go to the first folder; the seeds are only read.
status=0
"$build/fuzz/$fuzzer" \
    -max_total_time="$seconds" \
    "${options[@]}" \
    -timeout=10 \
    -rss_limit_mb=2048 \
    -artifact_prefix="$artifacts/$target-" \
    -print_final_stats=1 \
    "$corpus" "$seeds" || status=$?

if ((status != 0)); then
    echo "fuzz: libFuzzer exited with $status; reproducers are in $artifacts" >&2
fi
exit "$status"
