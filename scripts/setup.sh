#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, if any is missing.
# Runs apt-get as root (directly, or through sudo for another user).
set -euo pipefail

packages=(
    cmake ninja-build g++ clang libclang-rt-14-dev   # compilers, sanitizer and fuzzer runtimes
    clang-format                                      # the sources' formatting check
    libgtest-dev libgmock-dev libbenchmark-dev        # tests and benchmarks
    time                                              # /usr/bin/time: the texture memory benchmark's peaks
    libassimp-dev assimp-utils                        # the benchmarks' reference importer
    nlohmann-json3-dev                                # the converter's glTF JSON
    libpng-dev                                        # the converter's PNG textures
    openimageio-tools                                 # oiiotool: the DDS tests' second opinion
    bindfs                                            # a FUSE file system for the output tests
    g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 # the Windows module
    binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
    wine wine64 fonts-wine xvfb xdotool imagemagick   # running it in real windows
    blender python3-numpy                             # the Blender add-on's tests and the sample's render
)
# The glTF validator and three.js run on Node.js; a machine that has node and npm from elsewhere keeps them.
command -v npm >/dev/null || packages+=(nodejs npm)

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if ((${#missing[@]} > 0)); then
    echo "Installing: ${missing[*]}"
    as_root=()
    [ "$(id -u)" -eq 0 ] || as_root=(sudo)
    "${as_root[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The Node.js tools the converter's tests run, at the versions their lock files pin: the glTF
# validator and three.js.
[ -d converter/tests/gltf-validator/node_modules/gltf-validator ] || npm ci --prefix converter/tests/gltf-validator --no-audit --no-fund
[ -d converter/tests/three-loader/node_modules/three ] || npm ci --prefix converter/tests/three-loader --no-audit --no-fund
# gltfpack and glTF-Transform: the route from a .glb to a compressed web-ready file, tested.
[ -d converter/tests/gltf-tools/node_modules/gltfpack ] || npm ci --prefix converter/tests/gltf-tools --no-audit --no-fund
