#pragma once

// Writes Brennic model files: chunks, mesh chunks with every sub-chunk, reference and
// substitution chunks, as bytes or as files in a content folder. Tests, fuzz seeds, the
// benchmark and the bundled sample are all made with it.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace modelwriter {

using Bytes = std::vector<uint8_t>;

// Appends little-endian values.
class ByteWriter {
public:
    ByteWriter& U8(uint8_t value);
    ByteWriter& U16(uint16_t value);
    ByteWriter& S16(int16_t value) { return U16(static_cast<uint16_t>(value)); }
    ByteWriter& U32(uint32_t value);
    ByteWriter& F32(float value);
    ByteWriter& String(const std::string& text); // with its terminating zero
    ByteWriter& Append(const Bytes& bytes);
    ByteWriter& Append(const void* bytes, size_t count);
    const Bytes& bytes() const { return data; }
    Bytes Take() { return std::move(data); }

private:
    Bytes data;
};

// A chunk: id, payload size, payload. `ChunkDeclaring` states any size, for broken files.
Bytes Chunk(uint32_t id, const Bytes& payload);
Bytes ChunkDeclaring(uint32_t id, uint32_t declaredSize, const Bytes& payload);
Bytes Concat(const std::vector<Bytes>& parts);

// Packed direction word: x in bits 16-23, y in 8-15, z in 0-7, w in 24-31.
uint32_t PackDirection(uint8_t x, uint8_t y, uint8_t z, uint8_t w = 0);
// A direction with components in 0..1 (the range the format decodes to), rounded to bytes.
uint32_t PackUnitRange(float x, float y, float z);

struct StaticVertex {
    float position[3] = {};
    uint32_t aux1 = 0;
    uint32_t normal = 0;
    uint32_t aux2 = 0;
    float texCoord[2] = {};
};

struct SkinnedVertex {
    int16_t position[3] = {};
    uint16_t padding = 0;
    uint32_t normal = 0;
    uint32_t aux1 = 0;
    uint32_t aux2 = 0;
    uint8_t boneIndices[4] = {};
    uint8_t boneWeights[4] = {};
    int16_t texCoord[2] = {};
};

struct Bone {
    uint8_t id = 0;
    std::array<uint8_t, 60> record{};
};

// Quantisation of the skinned form: positions in steps of 12/32768, texCoords of 1/2048.
int16_t QuantisePosition(float value);
int16_t QuantiseTexCoord(float value);

// Mesh sub-chunks (ids 1 to 5).
Bytes HeaderChunk(const std::array<uint8_t, 64>& header);
Bytes NamesChunk(const std::string& texture, const std::string& mesh, const std::string& third);
Bytes StaticVertexChunk(const std::vector<StaticVertex>& vertices, uint32_t leadingWord = 0);
Bytes SkinnedVertexChunk(const std::vector<Bone>& bones, const std::vector<SkinnedVertex>& vertices);
Bytes IndexChunk(const std::vector<uint16_t>& indices);

// One mesh, written as sub-chunks 1, 2, the vertex chunk of its form, then 4.
struct MeshSpec {
    std::array<uint8_t, 64> header{};
    std::string texture;
    std::string name;
    std::string third;
    std::vector<StaticVertex> staticVertices; // used when skinnedVertices is empty
    std::vector<SkinnedVertex> skinnedVertices;
    std::vector<Bone> bones;
    std::vector<uint16_t> indices;
};
Bytes MeshChunk(const MeshSpec& mesh, uint32_t id = 0);

// Top-level chunks 9, 16 and 29.
Bytes MeshListChunk(const std::vector<Bytes>& meshChunks);
Bytes MeshListChunk(const std::vector<MeshSpec>& meshes);
Bytes ReferenceChunk(const std::vector<std::string>& lists);
Bytes SubstitutionChunk(const std::string& items);

// Files that make a loader store far more than it reads.
// A reference chunk naming `name` `count` times in one list.
Bytes RepeatedReferences(const std::string& name, unsigned count);
// A mesh list of `count` one-triangle meshes, each named `name` with texture `texture`.
Bytes TinyMeshes(unsigned count, const std::string& name, const std::string& texture = "tex");
// A mesh list of one mesh of three vertices and `indexCount` indices over them.
Bytes IndexHeavyMesh(uint32_t indexCount, const std::string& name = "heavy");

// A cube of side `size` about `centre` whose six sides keep four vertices of their own, each with
// its side's packed normal and the texture's corners: 24 vertices, 12 triangles counter-clockwise
// seen from outside, in file axes.
MeshSpec SplitCube(const std::string& name, const std::string& texture, float size = 1.0f,
                   const std::array<float, 3>& centre = {});

// An uncompressed 32-bit BGRA DDS image; `pixel` gives RGBA for (x, y). DdsWriter.h writes the
// other encodings.
template <typename PixelFunction>
Bytes Dds(uint32_t width, uint32_t height, PixelFunction pixel);
Bytes DdsHeader(uint32_t width, uint32_t height);

void WriteFile(const std::string& path, const Bytes& bytes); // makes missing folders; throws on failure
// A file's whole content, for checking what was written; empty when it cannot be read.
std::string ReadText(const std::string& path);

// The game's content layout under one folder: <root>/content/meshes, <root>/content/textures.
class ContentFolder {
public:
    explicit ContentFolder(std::string root);
    const std::string& Root() const { return root; }
    // POSIX paths of the files, with the relative name's '\' written as '/'.
    std::string MeshPath(const std::string& name) const;  // content/meshes/<name>.mesh
    std::string ModelPath(const std::string& name) const; // content/meshes/<name>.model
    std::string TexturePath(const std::string& name, const std::string& size) const;
    std::string WriteMesh(const std::string& name, const Bytes& bytes) const;
    std::string WriteModel(const std::string& name, const Bytes& bytes) const;
    std::string WriteTexture(const std::string& name, const std::string& size, const Bytes& bytes) const;

private:
    std::string root;
};

// The path as the host hands it over: every '/' a '\'.
std::string HostPath(const std::string& posixPath);

template <typename PixelFunction>
Bytes Dds(uint32_t width, uint32_t height, PixelFunction pixel)
{
    ByteWriter out;
    out.Append(DdsHeader(width, height));
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const std::array<uint8_t, 4> rgba = pixel(x, y);
            out.U8(rgba[2]).U8(rgba[1]).U8(rgba[0]).U8(rgba[3]);
        }
    return out.Take();
}

} // namespace modelwriter
