#!/usr/bin/env bash
# brennic-import as a user meets it: conversions of the sample, several inputs and a folder,
# and every failure with its message, its exit status and no file left behind.
#   command-test.sh BRENNIC_IMPORT SAMPLE_CONTENT_FOLDER VALIDATOR_SCRIPT
set -uo pipefail
tool=$(realpath "$1") content=$(realpath "$2") validator=$(realpath "$3")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
sample=$content/meshes/props/storage.model

passed=0 failed=0
check() { # check WHAT COMMAND...
    if "${@:2}" >/dev/null 2>&1; then passed=$((passed + 1)); echo "ok $1"; else failed=$((failed + 1)); echo "FAIL $1"; fi
}
run() { # run ARGS...: status in $status, stdout and stderr in $out
    out=$("$tool" "$@" 2>&1); status=$?
}
leftovers() { find "$work" -name '.*.part-*' | grep -q .; }

# -- The sample, in each format
run -o out/storage.glb --include-lods "$sample"
check "sample to .glb: exit 0" test $status -eq 0
check "sample to .glb: says what it wrote" grep -q "storage.model -> out/storage.glb: 4 meshes" <<<"$out"
check "sample .glb passes the glTF validator" node "$validator" out/storage.glb
check "sample .glb has a PNG of each texture beside it" test "$(find out -name '*.png' | wc -l)" -eq 2
run -o out/storage.gltf "$sample"
check "sample to .gltf with its .bin" test $status -eq 0 -a -f out/storage.gltf -a -f out/storage.bin
check "sample .gltf passes the glTF validator" node "$validator" out/storage.gltf
check "sample .gltf refers to textures by relative forward-slash paths" \
    test -z "$(grep -oE '"uri" *: *"[^"]*"' out/storage.gltf | grep -E '\\\\|"/')"
run --format obj -o out/objects "$sample"
check "--format obj into a folder" test $status -eq 0 -a -f out/objects/storage.obj -a -f out/objects/storage.mtl
check "OBJ names one object per node" test "$(grep -c '^o ' out/objects/storage.obj)" -eq 3
cp "$sample" beside.model
run beside.model
check "without -o the output is named after the input" test $status -eq 0 -a -f beside.glb

# -- Several inputs and a folder
run -o many "$sample" "$content/meshes/props/barrel.mesh" missing.model
check "one failing input of three: exit 1" test $status -eq 1
check "progress line per file" test "$(grep -cE '^\[[0-9]/3\]' <<<"$out")" -eq 3
check "total at the end" grep -q "converted 2 of 3" <<<"$out"
check "the others are written" test -f many/storage.glb -a -f many/barrel.glb
run -q --format gltf -o tree "$content"
check "a folder: its .model files, quietly" test $status -eq 0 -a -f tree/meshes/props/storage.gltf -a -z "$out"

# -- Failures
run missing.model
check "missing file: exit 1" test $status -eq 1
check "missing file: says so" grep -q "missing.model: no such file" <<<"$out"
printf 'hello, not a model' >text.model
run text.model
check "not a model: says so" grep -q "text.model: not a Brennic model file" <<<"$out"
check "not a model: exit 1, no output" test $status -eq 1 -a ! -e text.glb
mkdir -p bare/content/meshes
printf '\x10\x00\x00\x00\x0a\x00\x00\x00\x01\x00\x00\x00gone,\x00' >bare/content/meshes/refs.model
run bare/content/meshes/refs.model
check "no usable mesh: says why" grep -q "holds no mesh with both vertices and triangles (1 referenced .mesh file is missing)" <<<"$out"
touch blocker
run -o blocker/out.glb "$sample"
check "unwritable output: exit 1 and says which" test $status -eq 1 -a -n "$(grep 'blocker' <<<"$out")"
run -o out.xyz "$sample"
check "unknown output extension: usage error" test $status -eq 2
run --bogus "$sample"
check "unknown option: usage error" test $status -eq 2
run --help
check "--help explains the command" grep -q "Converts Brennic models" <<<"$out"
check "no half-written file anywhere" sh -c "! find '$work' -name '.*.part-*' | grep -q ."

# -- A texture that is missing: a warning, and the output keeps the reference
mkdir -p lost && cp -r "$content" lost/ && rm lost/content/textures/props/crate.1024.dds
run -o lost.glb lost/content/meshes/props/storage.model
check "missing texture: still converts" test $status -eq 0 -a -f lost.glb
check "missing texture: warns with the file" grep -q "warning: .*crate.*dds" <<<"$out"
check "missing texture: the output passes the validator but for the missing file" node "$validator" --allow-missing-images lost.glb

# -- A folder on one and on two worker processes: the same files and the same messages
mkdir -p batch && cp -r "$content" batch/
for i in 1 2 3 4 5 6 7; do cp batch/content/meshes/props/storage.model "batch/content/meshes/props/copy$i.model"; done
printf 'hello, not a model' >batch/content/meshes/props/copy4.model
for jobs in 1 2; do
    run -v -j $jobs -o converted batch/content
    echo "$status" >"status-$jobs" && printf '%s' "$out" >"messages-$jobs" && mv converted "converted-$jobs"
done
check "-j 2: exit status as with -j 1 (1: one input fails)" test "$(cat status-1)$(cat status-2)" = 11
check "-j 2: the same messages, in input order, as -j 1" cmp messages-1 messages-2
check "-j 2: byte for byte the files of -j 1" diff -r converted-1 converted-2
check "-j 2: the failure in its place" grep -q "^\[4/8\] brennic-import: .*copy4.model: not a Brennic model file" messages-2
run -j 0 "$sample"
check "-j 0: usage error" test $status -eq 2

echo "$passed passed, $failed failed"
((failed == 0))
