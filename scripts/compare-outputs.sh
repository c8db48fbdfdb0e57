#!/usr/bin/env bash
# Converts the same inputs with two brennic-import binaries and compares every output byte for
# byte: the bundled sample (each format; with LODs, copied and kept .dds; both normals) and the
# conversion fuzzer's seeds (each unpacked into a content folder with its flags). For changes
# that must not change what is written, such as moving code between files.
#   scripts/compare-outputs.sh OLD-BRENNIC-IMPORT NEW-BRENNIC-IMPORT
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 OLD-BRENNIC-IMPORT NEW-BRENNIC-IMPORT" >&2; exit 2; }
old=$(realpath "$1")
new=$(realpath "$2")
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The sample and the seeds, from the debug build (made if missing) and the fuzz build's seeder.
[ -d "$root/build/dev/sample/content" ] || { cmake --preset dev >/dev/null && cmake --build --preset dev --target sample; }
sample=$root/build/dev/sample/content
cmake --preset fuzz >/dev/null
cmake --build build/fuzz --target brennic-fuzz-convert-seeds >/dev/null
"$root/build/fuzz/fuzz/brennic-fuzz-convert-seeds" "$work/seeds" >/dev/null

# Each seed: a flags byte, the model's size (4 bytes, little-endian), the model, then the .dds.
python3 - "$work/seeds" "$work/unpacked" <<'PY'
import os, struct, sys
seeds, out = sys.argv[1], sys.argv[2]
for name in sorted(os.listdir(seeds)):
    data = open(os.path.join(seeds, name), 'rb').read()
    if len(data) < 5:
        continue
    flags, size = data[0], struct.unpack('<I', data[1:5])[0]
    model, dds = data[5:5 + size], data[5 + size:]
    folder = os.path.join(out, name)
    os.makedirs(os.path.join(folder, 'content/meshes'))
    os.makedirs(os.path.join(folder, 'content/textures'))
    open(os.path.join(folder, 'content/meshes/fuzz.model'), 'wb').write(model)
    open(os.path.join(folder, 'content/textures/fuzz_tex.512.dds'), 'wb').write(dds)
    options = []
    if flags & 1: options.append('--include-lods')
    if flags & 2: options.append('--keep-dds')
    if flags & 4: options.append('--copy-textures')
    options += ['--format', 'gltf' if flags & 8 else 'glb']
    open(os.path.join(folder, 'options'), 'w').write(' '.join(options))
PY

runs=0
differences=0
# Runs both binaries on one input with the same options, each into a folder of its own.
compare() {
    local name=$1 input=$2
    shift 2
    runs=$((runs + 1))
    for side in old new; do
        local binary=$old
        [ $side = new ] && binary=$new
        mkdir -p "$work/out/$side/$name"
        (cd "$work/out/$side/$name" && "$binary" -q -o . "$@" "$input" >stdout 2>stderr; echo "exit $?" >>stdout) || true
    done
    if ! diff -r "$work/out/old/$name" "$work/out/new/$name" >/dev/null; then
        echo "DIFFERENT: $name ($*)"
        differences=$((differences + 1))
    fi
}

model=$sample/meshes/props/storage.model
for format in glb gltf obj; do
    compare "sample-$format" "$model" --format $format
    compare "sample-$format-lods" "$model" --format $format --include-lods
    compare "sample-$format-game" "$model" --format $format --normals game
done
compare sample-copies "$model" --format gltf --copy-textures --keep-dds
compare sample-glb-dds "$model" --format glb --keep-dds
for folder in "$work"/unpacked/*; do
    read -r -a options <"$folder/options" || true
    compare "seed-$(basename "$folder")" "$folder/content/meshes/fuzz.model" "${options[@]}"
done
echo "$((runs - differences)) passed, $differences failed"
[ $differences -eq 0 ]
