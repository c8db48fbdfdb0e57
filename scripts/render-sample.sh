#!/usr/bin/env bash
# Renders the bundled sample as Blender shows it through the add-on (Cycles on the CPU, 320 x 240,
# 16 samples), with the dev build's brennic-import: build/render/sample.png.
#   scripts/render-sample.sh [PNG]
set -euo pipefail
cd "$(dirname "$0")/.."
png=$(realpath -m "${1:-build/render/sample.png}")
command -v blender >/dev/null || { echo "render-sample: blender is missing: run scripts/setup.sh" >&2; exit 1; }
cmake --preset dev >/dev/null
cmake --build build/dev --target brennic-import sample -j2 >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/brennic-render-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/scripts/addons" "$(dirname "$png")"
cp -r blender/brennic_import "$work/scripts/addons/"
PATH=$(realpath build/dev/converter):$PATH BLENDER_USER_SCRIPTS=$work/scripts \
    blender -b --factory-startup --python-exit-code 1 --python scripts/render-sample.py -- \
    "$(realpath build/dev/sample/content/meshes/props/storage.model)" "$png"
test -s "$png"
echo "rendered: $png"
