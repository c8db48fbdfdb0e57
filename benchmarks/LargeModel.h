#pragma once

// The large models the scene and conversion benchmarks time, and the same geometry as binary
// PLY files for Assimp. Even meshes are static, odd ones skinned.
//
// Two layouts:
// - separate quads: each quad has its own four corners, as in a file that keeps texture seams
//   between faces: a grid point is a corner of up to four quads, at one position with four
//   texture coordinates, so the weld merges them;
// - shared grid: a height field whose vertices the triangles share, as game meshes are mostly
//   stored: nothing to weld, six corners a vertex.
// - quads sharing corners: separate quads again, but with the mesh's texture coordinates, so a
//   grid point's four corners are equal in every value under different vertices: one vertex
//   once welded and merged by value, as peers merge identical vertices.

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

constexpr int gridSide = 256; // vertices along a side of a shared grid mesh

static_assert(totalVertices >= 1048576, "the model must be large enough to time the import");
static_assert(verticesPerMesh <= 65536 && gridSide * gridSide <= 65536,
              "a mesh's vertices must be reachable by u16 indices");

enum class Layout { SeparateQuads, SharedGrid, QuadsSharingCorners };

struct Shape {
    Layout layout = Layout::SeparateQuads;
    int meshCount = large::meshCount;

    size_t VerticesPerMesh() const;
    size_t TrianglesPerMesh() const;
    size_t Vertices() const { return VerticesPerMesh() * size_t(meshCount); }
    size_t Triangles() const { return TrianglesPerMesh() * size_t(meshCount); }
};

// Writes content/meshes/<name>.model and returns its POSIX path. With no textures every mesh
// names bench\grid, which is not written; otherwise the meshes take turns over that many
// textures, bench\grid0 and on, each written as a small .dds.
std::string WriteModel(const modelwriter::ContentFolder& content, int textureCount = 0, const Shape& shape = {},
                       const std::string& name = "large");

// Every mesh's vertices and triangles in one PLY file, each mesh's indices offset by the
// vertices before it. Normals are the model's, decoded and made unit length.
void WritePly(const std::string& path, const Shape& shape = {});

} // namespace bench::large
