#!/usr/bin/env bash
# Packages the Blender add-on as the zip that Blender's Preferences > Add-ons > Install... takes:
# the brennic_import folder at the top of the archive, nothing else.
#   scripts/package-blender-addon.sh [ZIP]    (default build/blender/brennic_import-<version>.zip)
set -euo pipefail
cd "$(dirname "$0")/.."
version=$(sed -n 's/^project(BrennicMeshImport VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
zip=${1:-build/blender/brennic_import-$version.zip}
mkdir -p "$(dirname "$zip")"
zip=$(realpath "$zip")

# Only the add-on's sources: no caches Python may have left beside them.
/usr/bin/python3 - "$zip" <<'PYTHON'
import os, sys, tempfile, zipfile
target = sys.argv[1]
folder, name = os.path.split(target)
# Written beside the target under another name, then renamed: never a half-written zip.
handle, temporary = tempfile.mkstemp(prefix="." + name + "-", dir=folder)
os.close(handle)
try:
    with zipfile.ZipFile(temporary, "w", zipfile.ZIP_DEFLATED) as archive:
        for source in sorted(os.listdir("blender/brennic_import")):
            if source.endswith(".py"):
                archive.write(os.path.join("blender/brennic_import", source), "brennic_import/" + source)
    os.chmod(temporary, 0o644)
    os.replace(temporary, target)
except BaseException:
    os.unlink(temporary)
    raise
PYTHON
echo "$zip"
