#include "ModelWriter.h"
#include "DdsWriter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace modelwriter {

ByteWriter& ByteWriter::U8(uint8_t value)
{
    data.push_back(value);
    return *this;
}

ByteWriter& ByteWriter::U16(uint16_t value)
{
    return U8(static_cast<uint8_t>(value)).U8(static_cast<uint8_t>(value >> 8));
}

ByteWriter& ByteWriter::U32(uint32_t value)
{
    return U16(static_cast<uint16_t>(value)).U16(static_cast<uint16_t>(value >> 16));
}

ByteWriter& ByteWriter::F32(float value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return U32(bits);
}

ByteWriter& ByteWriter::String(const std::string& text)
{
    data.insert(data.end(), text.begin(), text.end());
    return U8(0);
}

ByteWriter& ByteWriter::Append(const Bytes& bytes)
{
    data.insert(data.end(), bytes.begin(), bytes.end());
    return *this;
}

ByteWriter& ByteWriter::Append(const void* bytes, size_t count)
{
    const auto* begin = static_cast<const uint8_t*>(bytes);
    data.insert(data.end(), begin, begin + count);
    return *this;
}

Bytes ChunkDeclaring(uint32_t id, uint32_t declaredSize, const Bytes& payload)
{
    return ByteWriter().U32(id).U32(declaredSize).Append(payload).Take();
}

Bytes Chunk(uint32_t id, const Bytes& payload)
{
    return ChunkDeclaring(id, static_cast<uint32_t>(payload.size()), payload);
}

Bytes Concat(const std::vector<Bytes>& parts)
{
    ByteWriter out;
    for (const Bytes& part : parts)
        out.Append(part);
    return out.Take();
}

uint32_t PackDirection(uint8_t x, uint8_t y, uint8_t z, uint8_t w)
{
    return uint32_t{w} << 24 | uint32_t{x} << 16 | uint32_t{y} << 8 | z;
}

uint32_t PackUnitRange(float x, float y, float z)
{
    auto toByte = [](float v) { return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f)); };
    return PackDirection(toByte(x), toByte(y), toByte(z));
}

int16_t QuantisePosition(float value)
{
    return static_cast<int16_t>(std::clamp(std::lround(value * 8192.0f / 3.0f), -32768L, 32767L));
}

int16_t QuantiseTexCoord(float value)
{
    return static_cast<int16_t>(std::clamp(std::lround(value * 2048.0f), -32768L, 32767L));
}

Bytes HeaderChunk(const std::array<uint8_t, 64>& header)
{
    return Chunk(1, Bytes(header.begin(), header.end()));
}

Bytes NamesChunk(const std::string& texture, const std::string& mesh, const std::string& third)
{
    return Chunk(2, ByteWriter().String(texture).String(mesh).String(third).Take());
}

Bytes StaticVertexChunk(const std::vector<StaticVertex>& vertices, uint32_t leadingWord)
{
    ByteWriter out;
    out.U32(leadingWord).U32(static_cast<uint32_t>(vertices.size()));
    for (const StaticVertex& v : vertices)
        out.F32(v.position[0])
            .F32(v.position[1])
            .F32(v.position[2])
            .U32(v.aux1)
            .U32(v.normal)
            .U32(v.aux2)
            .F32(v.texCoord[0])
            .F32(v.texCoord[1]);
    return Chunk(3, out.Take());
}

Bytes SkinnedVertexChunk(const std::vector<Bone>& bones, const std::vector<SkinnedVertex>& vertices)
{
    if (bones.size() > 255)
        throw std::invalid_argument("a bone table holds at most 255 bones");
    ByteWriter out;
    out.U8(static_cast<uint8_t>(bones.size()));
    for (const Bone& bone : bones)
        out.U8(bone.id);
    for (const Bone& bone : bones)
        out.Append(bone.record.data(), bone.record.size());
    out.U32(static_cast<uint32_t>(vertices.size()));
    for (const SkinnedVertex& v : vertices) {
        out.S16(v.position[0])
            .S16(v.position[1])
            .S16(v.position[2])
            .U16(v.padding)
            .U32(v.normal)
            .U32(v.aux1)
            .U32(v.aux2)
            .Append(v.boneIndices, 4)
            .Append(v.boneWeights, 4)
            .S16(v.texCoord[0])
            .S16(v.texCoord[1]);
    }
    return Chunk(5, out.Take());
}

Bytes IndexChunk(const std::vector<uint16_t>& indices)
{
    ByteWriter out;
    out.U32(static_cast<uint32_t>(indices.size()));
    for (uint16_t index : indices)
        out.U16(index);
    return Chunk(4, out.Take());
}

Bytes MeshChunk(const MeshSpec& mesh, uint32_t id)
{
    const Bytes vertices = mesh.skinnedVertices.empty() ? StaticVertexChunk(mesh.staticVertices)
                                                        : SkinnedVertexChunk(mesh.bones, mesh.skinnedVertices);
    return Chunk(id, Concat({HeaderChunk(mesh.header), NamesChunk(mesh.texture, mesh.name, mesh.third), vertices,
                             IndexChunk(mesh.indices)}));
}

Bytes MeshListChunk(const std::vector<Bytes>& meshChunks)
{
    return Chunk(9, Concat(meshChunks));
}

Bytes MeshListChunk(const std::vector<MeshSpec>& meshes)
{
    std::vector<Bytes> chunks;
    for (const MeshSpec& mesh : meshes)
        chunks.push_back(MeshChunk(mesh));
    return MeshListChunk(chunks);
}

Bytes ReferenceChunk(const std::vector<std::string>& lists)
{
    ByteWriter out;
    out.U32(static_cast<uint32_t>(lists.size()));
    for (const std::string& list : lists)
        out.String(list);
    return Chunk(16, out.Take());
}

Bytes SubstitutionChunk(const std::string& items)
{
    return Chunk(29, ByteWriter().String(items).Take());
}

Bytes RepeatedReferences(const std::string& name, unsigned count)
{
    std::string list;
    list.reserve((name.size() + 1) * count);
    for (unsigned i = 0; i < count; ++i)
        list += name + ",";
    return ReferenceChunk({list});
}

namespace {
MeshSpec SmallTriangle(const std::string& name, const std::string& texture)
{
    MeshSpec mesh;
    mesh.name = name;
    mesh.texture = texture;
    mesh.staticVertices.resize(3);
    mesh.staticVertices[1].position[0] = 1.0f;
    mesh.staticVertices[2].position[1] = 1.0f;
    mesh.indices = {0, 1, 2};
    return mesh;
}
} // namespace

Bytes TinyMeshes(unsigned count, const std::string& name, const std::string& texture)
{
    const Bytes mesh = MeshChunk(SmallTriangle(name, texture));
    ByteWriter meshes;
    for (unsigned i = 0; i < count; ++i)
        meshes.Append(mesh);
    return Chunk(9, meshes.Take());
}

Bytes IndexHeavyMesh(uint32_t indexCount, const std::string& name)
{
    MeshSpec mesh = SmallTriangle(name, "tex");
    mesh.indices.resize(indexCount);
    for (uint32_t i = 0; i < indexCount; ++i)
        mesh.indices[i] = static_cast<uint16_t>(i % 3);
    return MeshListChunk(std::vector<MeshSpec>{mesh});
}

MeshSpec SplitCube(const std::string& name, const std::string& texture, float size, const std::array<float, 3>& centre)
{
    MeshSpec mesh;
    mesh.name = name;
    mesh.texture = texture;
    const float corners[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}}; // counter-clockwise in (u, v) axes
    for (int axis = 0; axis < 3; ++axis)
        for (const float side : {-1.0f, 1.0f}) {
            // u and v axes of this side, ordered so that u x v points outward.
            const int u = (axis + (side > 0 ? 1 : 2)) % 3, v = (axis + (side > 0 ? 2 : 1)) % 3;
            const auto base = static_cast<uint16_t>(mesh.staticVertices.size());
            for (const auto& corner : corners) {
                StaticVertex vertex;
                float normal[3] = {0, 0, 0};
                normal[axis] = side;
                vertex.position[axis] = centre[size_t(axis)] + side * size / 2;
                vertex.position[u] = centre[size_t(u)] + corner[0] * size / 2;
                vertex.position[v] = centre[size_t(v)] + corner[1] * size / 2;
                vertex.normal = PackUnitRange(normal[0] / 2 + 0.5f, normal[1] / 2 + 0.5f, normal[2] / 2 + 0.5f);
                vertex.texCoord[0] = (corner[0] + 1) / 2;
                vertex.texCoord[1] = (1 - corner[1]) / 2;
                mesh.staticVertices.push_back(vertex);
            }
            mesh.indices.insert(mesh.indices.end(), {base, uint16_t(base + 1), uint16_t(base + 2), base,
                                                     uint16_t(base + 2), uint16_t(base + 3)});
        }
    return mesh;
}

Bytes DdsHeader(uint32_t width, uint32_t height)
{
    return DdsFileHeader(width, height, DdsSpec{}); // A8R8G8B8, one level
}

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string& path, const Bytes& bytes)
{
    const std::filesystem::path target(path);
    if (target.has_parent_path())
        std::filesystem::create_directories(target.parent_path());
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush())
        throw std::runtime_error("cannot write " + path);
}

std::string HostPath(const std::string& posixPath)
{
    std::string host = posixPath;
    std::replace(host.begin(), host.end(), '/', '\\');
    return host;
}

namespace {
std::string Posix(std::string relative)
{
    std::replace(relative.begin(), relative.end(), '\\', '/');
    return relative;
}
} // namespace

ContentFolder::ContentFolder(std::string folder) : root(std::move(folder)) {}

std::string ContentFolder::MeshPath(const std::string& name) const
{
    return root + "/content/meshes/" + Posix(name) + ".mesh";
}

std::string ContentFolder::ModelPath(const std::string& name) const
{
    return root + "/content/meshes/" + Posix(name) + ".model";
}

std::string ContentFolder::TexturePath(const std::string& name, const std::string& size) const
{
    return root + "/content/textures/" + Posix(name) + "." + size + ".dds";
}

std::string ContentFolder::WriteMesh(const std::string& name, const Bytes& bytes) const
{
    WriteFile(MeshPath(name), bytes);
    return MeshPath(name);
}

std::string ContentFolder::WriteModel(const std::string& name, const Bytes& bytes) const
{
    WriteFile(ModelPath(name), bytes);
    return ModelPath(name);
}

std::string ContentFolder::WriteTexture(const std::string& name, const std::string& size, const Bytes& bytes) const
{
    WriteFile(TexturePath(name, size), bytes);
    return TexturePath(name, size);
}

} // namespace modelwriter
