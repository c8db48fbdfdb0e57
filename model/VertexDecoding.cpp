// The two vertex forms of a mesh chunk, decoded into WorkVertex.
#include "BrennicModel.h"

#include "ChunkReader.h"

#include <cstring>

namespace {

const uint32_t vertexRecordSize = 32; // both forms
const uint32_t boneRecordSize = 60;

// Single precision 1/255, bit pattern 0x3B808081. Multiplied, never divided by: a quotient
// by 255 differs from this product in the last place for 126 of the 256 byte values.
const float directionScale = 0.003921568859368563f;
const float skinnedPositionScale = 0.0003662109375f; // 12 / 32768
const float skinnedTexCoordScale = 0.00048828125f;   // 1 / 2048

float LoadS16AsFloat(const uint8_t* bytes)
{
    return static_cast<float>(static_cast<int16_t>(LoadU16(bytes)));
}

} // namespace

void UnpackDirection(uint32_t word, float direction[3])
{
    direction[0] = static_cast<float>((word >> 16) & 0xFF) * directionScale;
    direction[1] = static_cast<float>((word >> 8) & 0xFF) * directionScale;
    direction[2] = static_cast<float>(word & 0xFF) * directionScale;
}

// Static form: u32 ignored, u32 count, then count records of position (3 f32), packed aux1,
// packed normal, packed aux2, texCoord (2 f32).
void CBrennicModel::ReadStaticVertexChunk(CChunkReader& chunk)
{
    if (!currentMesh.get())
        return;
    chunk.ReadU32();
    const uint32_t count = chunk.ReadU32();
    if (chunk.Overrun() || count > chunk.Remaining() / vertexRecordSize)
        return Warn(chunk, "static vertex chunk holds fewer vertices than it counts; ignored");
    if (!Store(chunk, count * vertexCost))
        return;
    const uint8_t* records = chunk.Take(count * vertexRecordSize);
    PrepareReadPages(records, size_t(count) * vertexRecordSize);
    DecodeStaticVertices(records, count);
    ReleaseReadPages(records, size_t(count) * vertexRecordSize); // the bulk of a file: decoded, not read again
}

// Skinned form: u8 bone count N, N bone ids, N 60-byte bone records, u32 count, then count
// quantised records. The bone table is read past; nothing uses it.
void CBrennicModel::ReadSkinnedVertexChunk(CChunkReader& chunk)
{
    if (!currentMesh.get())
        return;
    const uint32_t boneCount = chunk.ReadU8();
    chunk.Take(boneCount);
    chunk.Take(boneCount * boneRecordSize);
    const uint32_t count = chunk.ReadU32();
    if (chunk.Overrun() || count > chunk.Remaining() / vertexRecordSize)
        return Warn(chunk, "skinned vertex chunk holds fewer vertices than it counts; ignored");
    if (!Store(chunk, count * vertexCost))
        return;
    const uint8_t* records = chunk.Take(count * vertexRecordSize);
    PrepareReadPages(records, size_t(count) * vertexRecordSize);
    DecodeSkinnedVertices(records, count);
    ReleaseReadPages(records, size_t(count) * vertexRecordSize);
}

namespace {

// One pass over the records, each decoded straight into its vertex; the array is allocated
// uninitialised because every field is written.
template <typename DecodeRecord>
void DecodeRecords(const uint8_t* records, uint32_t count, ModelMesh& mesh)
{
    WorkVertex* vertices = new WorkVertex[count];
    mesh.vertices.reset(vertices);
    mesh.vertexCount = count;
    for (uint32_t i = 0; i < count; ++i)
        DecodeRecord::Decode(records + size_t(i) * vertexRecordSize, vertices[i]);
}

struct StaticRecord {
    static void Decode(const uint8_t* record, WorkVertex& vertex)
    {
        std::memcpy(vertex.position, record, sizeof vertex.position); // bits kept, NaN included
        UnpackDirection(LoadU32(record + 16), vertex.normal);
        UnpackDirection(LoadU32(record + 12), vertex.aux1);
        UnpackDirection(LoadU32(record + 20), vertex.aux2);
        std::memset(vertex.boneIndices, 0, sizeof vertex.boneIndices);
        std::memset(vertex.boneWeights, 0, sizeof vertex.boneWeights);
        std::memcpy(vertex.texCoord, record + 24, sizeof vertex.texCoord);
    }
};

struct SkinnedRecord {
    static void Decode(const uint8_t* record, WorkVertex& vertex)
    {
        for (int axis = 0; axis < 3; ++axis)
            vertex.position[axis] = LoadS16AsFloat(record + 2 * axis) * skinnedPositionScale;
        // bytes 6-7 are padding
        UnpackDirection(LoadU32(record + 8), vertex.normal);
        UnpackDirection(LoadU32(record + 12), vertex.aux1);
        UnpackDirection(LoadU32(record + 16), vertex.aux2);
        for (int k = 0; k < 4; ++k) {
            vertex.boneIndices[k] = record[20 + k];
            vertex.boneWeights[k] = static_cast<float>(record[24 + k]);
        }
        vertex.texCoord[0] = LoadS16AsFloat(record + 28) * skinnedTexCoordScale;
        vertex.texCoord[1] = LoadS16AsFloat(record + 30) * skinnedTexCoordScale;
    }
};

} // namespace

void CBrennicModel::DecodeStaticVertices(const uint8_t* records, uint32_t count)
{
    if (!currentMesh.get())
        return;
    DecodeRecords<StaticRecord>(records, count, *currentMesh);
    currentMesh->vertexForm = VertexForm::Static;
}

void CBrennicModel::DecodeSkinnedVertices(const uint8_t* records, uint32_t count)
{
    if (!currentMesh.get())
        return;
    DecodeRecords<SkinnedRecord>(records, count, *currentMesh);
    currentMesh->vertexForm = VertexForm::Skinned;
}
