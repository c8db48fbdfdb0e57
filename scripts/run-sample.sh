#!/usr/bin/env bash
# The main job on the bundled sample: installs what is missing, builds the release build
# (which generates the sample content folder) and lists the sample model.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release --target brennic-import sample

sample=build/release/sample/content/meshes/props/storage.model
build/release/converter/brennic-import --list "$sample"
