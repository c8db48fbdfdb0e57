#pragma once

// The large model the scene and conversion benchmarks time, and the same geometry as a binary
// PLY file for Assimp. Each quad has its own four corners, as in a file that keeps texture
// seams between faces: a grid point is a corner of up to four quads, at one position with four
// texture coordinates. Even meshes are static, odd ones skinned.

#include "ModelWriter.h"

#include <cstddef>
#include <string>

namespace bench::large {

constexpr int quadsPerSide = 64;
constexpr int cornersPerQuad = 4;
constexpr int meshCount = 64;
constexpr size_t quadsPerMesh = size_t{quadsPerSide} * quadsPerSide;
constexpr size_t verticesPerMesh = quadsPerMesh * cornersPerQuad;
constexpr size_t trianglesPerMesh = quadsPerMesh * 2;
constexpr size_t totalVertices = verticesPerMesh * meshCount;
constexpr size_t totalTriangles = trianglesPerMesh * meshCount;

static_assert(totalVertices >= 1048576, "the model must be large enough to time the import");
static_assert(verticesPerMesh <= 65536, "a mesh's vertices must be reachable by u16 indices");

// Writes content/meshes/large.model and returns its POSIX path. With no textures every mesh
// names bench\grid, which is not written; otherwise the meshes take turns over that many
// textures, bench\grid0 and on, each written as a small .dds.
std::string WriteModel(const modelwriter::ContentFolder& content, int textureCount = 0);

// Every mesh's corners and triangles in one PLY file, each mesh's indices offset by the
// corners before it. Normals are the model's, decoded and made unit length.
void WritePly(const std::string& path);

} // namespace bench::large
