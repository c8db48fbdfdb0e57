#!/usr/bin/env bash
# brennic-import as a user meets it: conversions of the sample, several inputs and a folder,
# and every failure with its message, its exit status and no file left behind.
#   command-test.sh BRENNIC_IMPORT SAMPLE_CONTENT_FOLDER VALIDATOR_SCRIPT THREE_LOADER_SCRIPT
set -uo pipefail
tool=$(realpath "$1") content=$(realpath "$2") validator=$(realpath "$3") three=$(realpath "$4")
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

# -- The sample, in each format
run -o out/storage.glb --include-lods "$sample"
check "sample to .glb: exit 0" test $status -eq 0
check "sample to .glb: says what it wrote" grep -q "storage.model -> out/storage.glb: 4 meshes" <<<"$out"
check "sample .glb passes the glTF validator" node "$validator" out/storage.glb
check "sample .glb loads in three.js" node "$three" out/storage.glb
check "sample .glb carries its PNGs inside: nothing beside it" test ! -e out/storage_textures
run -o out/storage.gltf "$sample"
check "sample to .gltf with its .bin" test $status -eq 0 -a -f out/storage.gltf -a -f out/storage.bin
check "sample .gltf passes the glTF validator" node "$validator" out/storage.gltf
check "sample .gltf has a PNG of each texture beside it" test "$(find out/storage_textures -name '*.png' | wc -l)" -eq 2
check "sample .gltf refers to textures by relative forward-slash paths" \
    test -z "$(grep -oE '"uri" *: *"[^"]*"' out/storage.gltf | grep -E '\\\\|"/')"
run --format obj -o out/objects "$sample"
check "--format obj into a folder" test $status -eq 0 -a -f out/objects/storage.obj -a -f out/objects/storage.mtl
check "OBJ names one object per node" test "$(grep -c '^o ' out/objects/storage.obj)" -eq 3
cp "$sample" beside.model
run beside.model
check "without -o the output is named after the input" test $status -eq 0 -a -f beside.glb
check "without a content folder: one warning says why nothing it names is found" \
    test "$(grep -c "warning: no folder named 'content' holds beside.model" <<<"$out")" -eq 1
run -o result "$sample"
check "-o without an extension for one input: the folder that takes the output" test $status -eq 0 -a -f result/storage.glb
run --format obj -o y.glb "$sample"
check "--format contradicting -o's extension: usage error, nothing written" test $status -eq 2 -a ! -e y.glb

# -- Several inputs and a folder
run -o many "$sample" "$content/meshes/props/barrel.mesh" missing.model
check "one failing input of three: exit 1" test $status -eq 1
check "progress line per file" test "$(grep -cE '^\[[0-9]/3\]' <<<"$out")" -eq 3
check "total at the end" grep -q "converted 2 of 3" <<<"$out"
check "the others are written" test -f many/storage.glb -a -f many/barrel.glb
run -v -o verbose.glb "$sample"
check "-v: the import's summary, a line each" grep -qx "Total polygons count : 360" <<<"$out"
run -q --format gltf -o tree "$content"
check "a folder: its .model files, quietly" test $status -eq 0 -a -f tree/meshes/props/storage.gltf -a -z "$out"

mkdir -p linkfolder elsewhere && cp "$sample" elsewhere/real.model && ln -s ../elsewhere/real.model linkfolder/linked.model
run -q -o linkout linkfolder
check "a linked model in a folder: its output where the link stands, inside -o's folder" \
    test $status -eq 0 -a -f linkout/linked.glb -a ! -e real.glb -a ! -e elsewhere/real.glb

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
run --version
check "--version names the command and its version" grep -qE '^brennic-import [0-9]+\.[0-9]+\.[0-9]+$' <<<"$out"
run -o one.glb "$sample" "$content/meshes/props/barrel.mesh"
check "-o a file with several inputs: usage error" test $status -eq 2 -a ! -e one.glb
check "-o a file with several inputs: says why" grep -q "names one file, but several inputs" <<<"$out"
run --output=tree.gltf "$content"
check "-o a file with a folder: usage error" test $status -eq 2 -a ! -e tree.gltf
check "-o a file with a folder: says why" grep -q "but a folder" <<<"$out"
run --json "$sample"
check "--json without --list: usage error" test $status -eq 2
run --format
check "an option without its value: usage error" test $status -eq 2
run --strict=yes "$sample"
check "a flag given a value: usage error" test $status -eq 2
run --normals=smooth "$sample"
check "--normals other than host or game: usage error naming both" \
    test $status -eq 2 -a -n "$(grep "unknown normals 'smooth': host or game" <<<"$out")"
cp "$sample" ./-dash.model
run --format=obj --output=dashed -- -dash.model
check "--option=value, and -- ends the options" test $status -eq 0 -a -f dashed/-dash.obj
run $'no\nsuch\x1b[31m.model'
check "control bytes from a path are not printed" test "$(wc -l <<<"$out")" -eq 1 -a -z "$(tr -d '\n' <<<"$out" | tr -d '[:print:]')"
check "no half-written file anywhere" sh -c "! find '$work' -name '.*.part-*' | grep -q ."

# -- A texture that is missing: a warning naming every size looked for, and its materials untextured
mkdir -p lost && cp -r "$content" lost/ && rm lost/content/textures/props/crate.1024.dds
run -o lost.glb lost/content/meshes/props/storage.model
check "missing texture: still converts" test $status -eq 0 -a -f lost.glb
check "missing texture: warns with every name looked for" \
    grep -q "warning: texture .*/crate.2048.dds, crate.1024.dds or crate.512.dds: none of them exists; its material has no texture" <<<"$out"
check "missing texture: the output passes the glTF validator" node "$validator" lost.glb
check "missing texture: the output loads in three.js" node "$three" lost.glb
run --format obj -o lost-obj lost/content/meshes/props/storage.model
check "missing texture: the MTL names only the PNG there is" \
    test "$(grep -c '^map_Kd ' lost-obj/storage.mtl)" -eq 1 -a -z "$(grep '^map_.*crate' lost-obj/storage.mtl)"

# -- A referenced .mesh that is missing: a warning too; --strict fails on either
rm lost/content/meshes/props/barrel.mesh
run -o lost2.glb lost/content/meshes/props/storage.model
check "missing reference: still converts" test $status -eq 0 -a -f lost2.glb
check "missing reference: warns with the file" grep -q "warning: referenced file .*barrel.mesh (missing, skipped)" <<<"$out"
run --strict -o strict.glb lost/content/meshes/props/storage.model
check "--strict: a warning fails the input, nothing written" test $status -eq 1 -a ! -e strict.glb -a ! -e strict_textures
check "--strict: says why and shows the warnings" grep -q "2 warnings with --strict" <<<"$out"
check "--strict: the warnings first, then one line saying nothing was written" \
    test "$(tail -n 1 <<<"$out" | grep -c "2 warnings with --strict: nothing written")" -eq 1
run --strict -o strict.glb "$sample"
check "--strict: a clean input converts" test $status -eq 0 -a -f strict.glb
check "no half-written file after --strict" sh -c "! find '$work' -name '.*.part-*' | grep -q ."

# -- --list takes folders; --json is one document a script can read
run --list "$content"
check "--list a folder: each model in it" test $status -eq 0 -a "$(grep -c 'files read:' <<<"$out")" -eq "$(find "$content" -name '*.model' | wc -l)"
"$tool" --list --json "$sample" lost/content/meshes >listing.json 2>/dev/null
check "--list --json: one document, parsed back" node -e '
    const doc = JSON.parse(require("fs").readFileSync("listing.json", "utf8"));
    const [sample, lost] = doc.models;
    const ok = doc.models.length === 2 && sample.meshes.length === 3 && sample.meshes.every((m) => m.weldedVertices > 0 && m.faces > 0) &&
        sample.textures.every((t) => t.found) && sample.references.some((r) => r.outcome === "lod-not-loaded") &&
        lost.textures.some((t) => !t.found) && lost.references.some((r) => r.outcome === "missing" && r.path.endsWith("barrel.mesh"));
    process.exit(ok ? 0 : 1);'

# -- Outputs that would replace what the conversion reads, or each other
mkdir -p own && cp -r "$content" own/ && own=own/content
cp "$own/meshes/props/storage.model" kept.model
run --format glb -o "$own/meshes/props/storage.model" "$own/meshes/props/storage.model"
check "output onto its input: refused, exit 1" test $status -eq 1
check "output onto its input: says so" grep -q "storage.model: .*a file this conversion reads" <<<"$out"
check "output onto its input: the input is untouched" cmp -s kept.model "$own/meshes/props/storage.model"
cp "$own/meshes/props/barrel.mesh" kept.mesh
run --format glb -o "$own/meshes/props/barrel.mesh" "$own/meshes/props/storage.model"
check "output onto a referenced .mesh: refused, the .mesh untouched" test $status -eq 1 -a "$(cmp -s kept.mesh "$own/meshes/props/barrel.mesh"; echo $?)" -eq 0
cp "$own/textures/props/barrel.512.dds" kept.dds
run --format obj -o "$own/textures/props/barrel.512.dds" "$own/meshes/props/storage.model"
check "output onto a texture: refused, the texture untouched" test $status -eq 1 -a "$(cmp -s kept.dds "$own/textures/props/barrel.512.dds"; echo $?)" -eq 0
mkdir -p first second && cp "$sample" first/same.model && cp "$sample" second/same.model
run -o joined first/same.model second/same.model
check "two inputs, one output name: the second is skipped, exit 1" test $status -eq 1 -a -f joined/same.glb
check "two inputs, one output name: says which" grep -q "second/same.model: its output joined/same.glb is another input's too" <<<"$out"

# -- Files found by ignoring case are protected as well, by what the conversion really read
mkdir -p cased && cp -r "$content" cased/ && cased=cased/content
mv "$cased/meshes/props/barrel.mesh" "$cased/meshes/props/Barrel.mesh"
mv "$cased/textures/props/barrel.512.dds" "$cased/textures/props/Barrel.512.dds"
cp "$cased/meshes/props/Barrel.mesh" kept-cased.mesh && cp "$cased/textures/props/Barrel.512.dds" kept-cased.dds
run --format glb -o "$cased/meshes/props/Barrel.mesh" "$cased/meshes/props/storage.model"
check "output onto a .mesh found ignoring case: refused, the .mesh untouched" \
    test $status -eq 1 -a "$(cmp -s kept-cased.mesh "$cased/meshes/props/Barrel.mesh"; echo $?)" -eq 0
run --format obj -o "$cased/textures/props/Barrel.512.dds" "$cased/meshes/props/storage.model"
check "output onto a texture found ignoring case: refused, the texture untouched" \
    test $status -eq 1 -a "$(cmp -s kept-cased.dds "$cased/textures/props/Barrel.512.dds"; echo $?)" -eq 0

# -- A link planted at the output is replaced, never written through
printf 'precious' >precious
ln -s precious linked.glb
run -o linked.glb "$sample"
check "a link at the output: replaced by the output" test $status -eq 0 -a -f linked.glb -a ! -L linked.glb
check "a link at the output: its target untouched" test "$(cat precious)" = precious

# -- The file size limit: a clear error, exit 1, nothing left (not even the folder made for it)
out=$(ulimit -f 4; "$tool" -o limited/deeper/out.glb "$sample" 2>&1); status=$?
check "file size limit: exit 1" test $status -eq 1
check "file size limit: says so" grep -q "cannot write limited/deeper/out.glb: .*file size limit" <<<"$out"
check "file size limit: nothing left" test ! -e limited
check "no temporary left by any of these" sh -c "! find '$work' -name '.*.part-*' | grep -q ."

# -- Inputs that cannot be read say why in the loader's message, naming the file asked for
mkdir -p odd && mkfifo odd/pipe.model && cp "$sample" 'odd/back\slash.model' && truncate -s 5G odd/huge.model
long=odd/$(printf 'n%.0s' {1..250}).model
refusals=(
    "odd/pipe.model|is a FIFO (named pipe), not a file"
    "odd/back\\slash.model|no such file: its name holds a '\\'"
    "odd/huge.model|too large for the format (4 GiB at most)"
    "$long|the name is too long for the file system"
    "/dev/null|is a device, not a file"
)
for refusal in "${refusals[@]}"; do
    input=${refusal%%|*} reason=${refusal#*|}
    run "$input"
    said=${out#"brennic-import: $input: $reason"} # what follows the reason; all of $out when it is not there
    check "refused, in words: ${reason%% (*}" test $status -eq 1 -a "$said" != "$out" -a "$(wc -l <<<"$out")" -eq 1
    run --list "$input"
    check "--list says the same" test $status -eq 1 -a "${out#"brennic-import: $input: $reason"}" != "$out"
done

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

# -- Copied textures of one name on two worker processes: named by their bytes, whichever worker copies them
mkdir -p one two && cp -r "$content" one/ && cp -r "$content" two/
mv two/content/meshes/props/storage.model two/content/meshes/props/other.model
crate=two/content/textures/props/crate.1024.dds
printf '\x5a' | dd of="$crate" bs=1 seek=$(($(stat -c %s "$crate") - 1)) conv=notrunc 2>/dev/null
for jobs in 1 2; do
    run -q -j $jobs --copy-textures -o "copies-$jobs" one/content/meshes/props/storage.model two/content/meshes/props/other.model
done
check "--copy-textures -j 2: byte for byte the files of -j 1" diff -r copies-1 copies-2
check "--copy-textures: two crates of different bytes, two copies" \
    test "$(ls copies-2 | grep -c '^crate\.1024-[0-9a-f]\{16\}\.dds$')" -eq 2
check "--copy-textures: two barrels of the same bytes, one copy" \
    test "$(ls copies-2 | grep -c '^barrel\.512-[0-9a-f]\{16\}\.dds$')" -eq 1

echo "$passed passed, $failed failed"
((failed == 0))
