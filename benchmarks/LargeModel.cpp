#include "LargeModel.h"

#include "BrennicModel.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace bench::large {

namespace {

constexpr int boneCount = 4;
constexpr uint32_t textureSide = 128; // small: the conversion's geometry, not texture decoding, is timed

// The skinned form's position step, by which the loader scales its quantised positions. Its
// texture coordinates need none here: multiples of 1/64 are exact in both forms.
constexpr float skinnedPositionStep = 12.0f / 32768;

const uint32_t packedNormal = modelwriter::PackUnitRange(0.5f, 1.0f, 0.5f);

bool IsSkinned(int meshIndex)
{
    return meshIndex % 2 == 1;
}

// One vertex as the loader decodes it, in the file's axes, with its packed normal.
struct Corner {
    float position[3];
    float texCoord[2];
    uint32_t normal;
};

// A gently curved surface, kept within the skinned form's position range (about +-12).
void SurfacePoint(int meshIndex, float u, float v, float position[3])
{
    position[0] = 8 * u - 4;
    position[1] = 0.1f * static_cast<float>(meshIndex % 64) + std::sin(3 * u) * v;
    position[2] = 8 * v - 4;
}

void Quantise(int meshIndex, float position[3])
{
    if (IsSkinned(meshIndex))
        for (int axis = 0; axis < 3; ++axis)
            position[axis] = modelwriter::QuantisePosition(position[axis]) * skinnedPositionStep;
}

// Corner k of quad (column, row): k = 0..3 counter-clockwise from the quad's low corner, with
// the quad's own texture square, or with the mesh's texture coordinates when corners are shared.
Corner QuadCorner(const Shape& shape, int meshIndex, int column, int row, int k)
{
    const int right = k == 1 || k == 2 ? 1 : 0;
    const int up = k >= 2 ? 1 : 0;
    Corner corner;
    SurfacePoint(meshIndex, static_cast<float>(column + right) / quadsPerSide,
                 static_cast<float>(row + up) / quadsPerSide, corner.position);
    Quantise(meshIndex, corner.position);
    const bool shared = shape.layout == Layout::QuadsSharingCorners;
    corner.texCoord[0] = shared ? static_cast<float>(column + right) / quadsPerSide : static_cast<float>(right);
    corner.texCoord[1] = shared ? static_cast<float>(row + up) / quadsPerSide : static_cast<float>(up);
    corner.normal = packedNormal;
    return corner;
}

// Grid vertex (column, row) of a shared grid: its texture coordinate spans the mesh, and its
// normal is the surface's, packed into the format's 0..1 range.
Corner GridVertex(int meshIndex, int column, int row)
{
    const float u = static_cast<float>(column) / (gridSide - 1), v = static_cast<float>(row) / (gridSide - 1);
    Corner vertex;
    SurfacePoint(meshIndex, u, v, vertex.position);
    Quantise(meshIndex, vertex.position);
    vertex.texCoord[0] = u;
    vertex.texCoord[1] = v;
    // The surface y = sin(3u) v over x = 8u - 4, z = 8v - 4: normal (-dy/dx, 1, -dy/dz).
    const float nx = -3 * std::cos(3 * u) * v / 8, nz = -std::sin(3 * u) / 8;
    const float length = std::sqrt(nx * nx + 1 + nz * nz);
    vertex.normal =
        modelwriter::PackUnitRange(0.5f + 0.5f * nx / length, 0.5f + 0.5f / length, 0.5f + 0.5f * nz / length);
    return vertex;
}

std::vector<Corner> MeshVertices(const Shape& shape, int meshIndex)
{
    std::vector<Corner> vertices;
    vertices.reserve(shape.VerticesPerMesh());
    if (shape.layout == Layout::SharedGrid) {
        for (int row = 0; row < gridSide; ++row)
            for (int column = 0; column < gridSide; ++column)
                vertices.push_back(GridVertex(meshIndex, column, row));
        return vertices;
    }
    for (int row = 0; row < quadsPerSide; ++row)
        for (int column = 0; column < quadsPerSide; ++column)
            for (int k = 0; k < cornersPerQuad; ++k)
                vertices.push_back(QuadCorner(shape, meshIndex, column, row, k));
    return vertices;
}

// Two triangles a quad: over its own corners, or over the grid's shared vertices.
std::vector<uint16_t> MeshIndices(const Shape& shape)
{
    std::vector<uint16_t> indices;
    indices.reserve(shape.TrianglesPerMesh() * 3);
    const int side = shape.layout == Layout::SharedGrid ? gridSide - 1 : quadsPerSide;
    for (int row = 0; row < side; ++row)
        for (int column = 0; column < side; ++column) {
            uint16_t a, b, c, d; // counter-clockwise from the quad's low corner
            if (shape.layout == Layout::SharedGrid) {
                a = static_cast<uint16_t>(row * gridSide + column);
                b = static_cast<uint16_t>(a + 1);
                c = static_cast<uint16_t>(a + gridSide + 1);
                d = static_cast<uint16_t>(a + gridSide);
            } else {
                a = static_cast<uint16_t>((row * quadsPerSide + column) * cornersPerQuad);
                b = static_cast<uint16_t>(a + 1), c = static_cast<uint16_t>(a + 2), d = static_cast<uint16_t>(a + 3);
            }
            indices.insert(indices.end(), {a, b, c, a, c, d});
        }
    return indices;
}

std::string TextureName(int meshIndex, int textureCount)
{
    return textureCount > 0 ? "bench\\grid" + std::to_string(meshIndex % textureCount) : "bench\\grid";
}

modelwriter::MeshSpec WrittenMesh(const Shape& shape, int meshIndex, int textureCount)
{
    modelwriter::MeshSpec mesh;
    mesh.texture = TextureName(meshIndex, textureCount);
    mesh.name = "grid" + std::to_string(meshIndex);
    mesh.indices = MeshIndices(shape);
    const uint32_t aux1 = modelwriter::PackUnitRange(1.0f, 0.5f, 0.5f);
    const uint32_t aux2 = modelwriter::PackUnitRange(0.5f, 0.5f, 1.0f);
    for (const Corner& corner : MeshVertices(shape, meshIndex)) {
        if (IsSkinned(meshIndex)) {
            modelwriter::SkinnedVertex vertex;
            for (int axis = 0; axis < 3; ++axis)
                vertex.position[axis] = modelwriter::QuantisePosition(corner.position[axis]);
            vertex.normal = corner.normal;
            vertex.aux1 = aux1;
            vertex.aux2 = aux2;
            const auto weight = static_cast<uint8_t>(std::lround(255 * corner.texCoord[0]));
            const uint8_t bones[4] = {0, 1, 2, 3};
            const uint8_t weights[4] = {weight, static_cast<uint8_t>(255 - weight), 0, 0};
            std::memcpy(vertex.boneIndices, bones, sizeof bones);
            std::memcpy(vertex.boneWeights, weights, sizeof weights);
            for (int axis = 0; axis < 2; ++axis)
                vertex.texCoord[axis] = modelwriter::QuantiseTexCoord(corner.texCoord[axis]);
            mesh.skinnedVertices.push_back(vertex);
        } else {
            modelwriter::StaticVertex vertex;
            std::memcpy(vertex.position, corner.position, sizeof corner.position);
            vertex.normal = corner.normal;
            vertex.aux1 = aux1;
            vertex.aux2 = aux2;
            std::memcpy(vertex.texCoord, corner.texCoord, sizeof corner.texCoord);
            mesh.staticVertices.push_back(vertex);
        }
    }
    if (IsSkinned(meshIndex))
        for (int bone = 0; bone < boneCount; ++bone)
            mesh.bones.push_back({static_cast<uint8_t>(bone), {}});
    return mesh;
}

// Opaque tiles, tinted by texture, so each texture decodes to a PNG of its own.
modelwriter::Bytes Texture(int textureIndex)
{
    return modelwriter::Dds(textureSide, textureSide, [=](uint32_t x, uint32_t y) {
        const bool light = ((x / 16) + (y / 16)) % 2 == 0;
        const auto shade = static_cast<uint8_t>((light ? 160 : 96) + (x + y) % 32);
        return std::array<uint8_t, 4>{shade, static_cast<uint8_t>(shade - 40 * (textureIndex % 2)),
                                      static_cast<uint8_t>(shade - 20 * (textureIndex % 3)), 255};
    });
}

} // namespace

size_t Shape::VerticesPerMesh() const
{
    return layout == Layout::SharedGrid ? size_t{gridSide} * gridSide : verticesPerMesh;
}

size_t Shape::TrianglesPerMesh() const
{
    return layout == Layout::SharedGrid ? size_t{gridSide - 1} * (gridSide - 1) * 2 : trianglesPerMesh;
}

std::string WriteModel(const modelwriter::ContentFolder& content, int textureCount, const Shape& shape,
                       const std::string& name)
{
    std::vector<modelwriter::Bytes> meshChunks;
    for (int mesh = 0; mesh < shape.meshCount; ++mesh)
        meshChunks.push_back(modelwriter::MeshChunk(WrittenMesh(shape, mesh, textureCount)));
    for (int texture = 0; texture < textureCount; ++texture)
        content.WriteTexture(TextureName(texture, textureCount), "512", Texture(texture));
    return content.WriteModel(name, modelwriter::MeshListChunk(meshChunks));
}

void WritePly(const std::string& path, const Shape& shape)
{
    const std::string header = "ply\nformat binary_little_endian 1.0\n"
                               "element vertex " +
                               std::to_string(shape.Vertices()) +
                               "\n"
                               "property float x\nproperty float y\nproperty float z\n"
                               "property float nx\nproperty float ny\nproperty float nz\n"
                               "property float s\nproperty float t\n"
                               "element face " +
                               std::to_string(shape.Triangles()) +
                               "\n"
                               "property list uchar int vertex_indices\nend_header\n";
    modelwriter::ByteWriter out;
    out.Append(header.data(), header.size());
    for (int mesh = 0; mesh < shape.meshCount; ++mesh)
        for (const Corner& corner : MeshVertices(shape, mesh)) {
            float direction[3];
            UnpackDirection(corner.normal, direction);
            const float length =
                std::sqrt(direction[0] * direction[0] + direction[1] * direction[1] + direction[2] * direction[2]);
            out.F32(corner.position[0]).F32(corner.position[1]).F32(corner.position[2]);
            out.F32(direction[0] / length).F32(direction[1] / length).F32(direction[2] / length);
            out.F32(corner.texCoord[0]).F32(corner.texCoord[1]);
        }
    const std::vector<uint16_t> indices = MeshIndices(shape);
    for (int mesh = 0; mesh < shape.meshCount; ++mesh) {
        const auto offset = static_cast<uint32_t>(size_t(mesh) * shape.VerticesPerMesh());
        for (size_t i = 0; i < indices.size(); i += 3)
            out.U8(3).U32(offset + indices[i]).U32(offset + indices[i + 1]).U32(offset + indices[i + 2]);
    }
    modelwriter::WriteFile(path, out.bytes());
}

} // namespace bench::large
