#!/usr/bin/env bash
# The Blender add-on in Blender itself (Debian's blender, headless): its zip installed into a
# temporary user scripts folder and enabled, it imports models our writer made through the dev
# build's brennic-import.
#   blender/tests/run-blender-tests.sh [BUILD_FOLDER]      (default build/dev, built already)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/dev}
converter=$build/converter/brennic-import
fixtures=$build/blender/tests/brennic-blender-fixtures
for needed in "$converter" "$fixtures"; do
    [ -x "$needed" ] || { echo "run-blender-tests: $needed is missing: build the dev preset first" >&2; exit 1; }
done
command -v blender >/dev/null || { echo "run-blender-tests: blender is missing: run scripts/setup.sh" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/brennic-blender-tests-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/scripts" "$work/tmp" "$work/fixtures"
scripts/package-blender-addon.sh "$work/brennic_import.zip" >/dev/null
"$fixtures" "$work/fixtures"

# TMPDIR is the run's own, so the tests can see that the add-on leaves nothing in it.
BLENDER_USER_SCRIPTS=$work/scripts TMPDIR=$work/tmp \
    blender -b --factory-startup --python-exit-code 1 \
    --python blender/tests/test_brennic_import.py -- \
    "$work/brennic_import.zip" "$work/fixtures" "$(realpath "$(dirname "$converter")")"
