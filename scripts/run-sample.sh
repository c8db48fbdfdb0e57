#!/usr/bin/env bash
# The main job on the bundled sample: installs what is missing, builds the release build
# (which generates the sample content folder), lists the sample model and converts it to
# glTF through the plug-in's import.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release --target brennic-import sample

tool=build/release/converter/brennic-import
sample=build/release/sample/content/meshes/props/storage.model
output=build/sample-output/storage.glb
"$tool" --list "$sample"
echo
"$tool" --verbose --include-lods -o "$output" "$sample"
echo
echo "The sample is converted: $(realpath "$output")"
echo "(its textures inside it, as PNG); open it in any glTF viewer."
