#!/usr/bin/env bash
# The route from a default .glb to a compressed web-ready file: gltfpack (meshopt compression,
# named nodes and materials kept) and glTF-Transform's inspect, installed under gltf-tools/ by
# scripts/setup.sh, read what brennic-import wrote and what gltfpack made of it.
#   web-route-test.sh BRENNIC_IMPORT SAMPLE_MODEL GLTF_TOOLS_FOLDER
set -uo pipefail
tool=$(realpath "$1") sample=$(realpath "$2") bin=$(realpath "$3")/node_modules/.bin
if [ ! -x "$bin/gltfpack" ] || [ ! -x "$bin/gltf-transform" ]; then
    echo "FAIL gltfpack and glTF-Transform are not installed: run scripts/setup.sh"
    exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

passed=0 failed=0
check() { # check WHAT COMMAND...
    if "${@:2}" >/dev/null 2>&1; then passed=$((passed + 1)); echo "ok $1"; else failed=$((failed + 1)); echo "FAIL $1"; fi
}
inspect() { # inspect FILE: glTF-Transform's tables as CSV
    "$bin/gltf-transform" inspect --format csv "$1" 2>&1
}

"$tool" -q -o storage.glb "$sample"
original=$(inspect storage.glb)
check "inspect reads the default .glb" grep -q "^generator,brennic-import" <<<"$original"
check "inspect counts its 360 triangles" grep -qE '^0,,[^"]*,"[^"]*","[^"]*",1080,265,265$' <<<"$original"
check "inspect finds its two 64 x 64 PNGs" test "$(grep -c ',image/png,,64x64,' <<<"$original")" -eq 2

"$bin/gltfpack" -i storage.glb -o storage.web.glb -cc -kn -km >gltfpack.log 2>&1
check "gltfpack compresses it" test $? -eq 0 -a -s storage.web.glb
packed=$(inspect storage.web.glb)
check "with meshopt compression, required" grep -q '^extensionsRequired,.*EXT_meshopt_compression' <<<"$packed"
check "keeping every triangle" grep -qE '^0,,[^,]*,"[^"]*","[^"]*",1080,' <<<"$packed"
check "the meshes' node names" grep -q '^0,,crate_body,' <<<"$packed"
check "their materials" test "$(grep -cE '^[0-9],props\\(crate_body|crate_lid|barrel),' <<<"$packed")" -eq 3
check "and their textures" test "$(grep -c ',image/png,,64x64,' <<<"$packed")" -eq 2
check "in fewer bytes" test "$(stat -c %s storage.web.glb)" -lt "$(stat -c %s storage.glb)"

echo "$passed passed, $failed failed"
((failed == 0))
