#include "BrennicModel.h"

#include "TestSupport.h"

#include <cmath>
#include <cstring>

using namespace modelwriter;

namespace {

uint32_t Bits(float value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

float FromBits(uint32_t bits)
{
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

TEST(UnpackDirection, IsBitExactAgainstTheFormatsConstant)
{
    float d[3];
    // File bytes 00 40 FF 80: z = 0x00, y = 0x40, x = 0xFF; the fourth byte is ignored.
    UnpackDirection(0x80FF4000, d);
    EXPECT_EQ(d[0], 1.0f);
    EXPECT_EQ(Bits(d[1]), Bits(0.250980406999588f));
    EXPECT_EQ(d[2], 0.0f);

    // Products with the rounded 1/255, not quotients by 255.
    const struct {
        uint8_t byte;
        uint32_t bits;
    } expected[] = {{0, 0x00000000},   {3, 0x3C40C0C2},  {127, 0x3EFEFF00}, {128, Bits(0.501960813999176f)},
                    {254, 0x3F7EFF00}, {255, 0x3F800000}};
    for (const auto& e : expected) {
        UnpackDirection(PackDirection(e.byte, e.byte, e.byte, 0xFF), d);
        for (float component : d)
            EXPECT_EQ(Bits(component), e.bits) << "byte " << int(e.byte);
    }
    EXPECT_NE(0x3C40C0C2u, Bits(3.0f / 255.0f)) << "the case that tells the two apart";
}

class VertexDecodingTest : public ContentTest {
protected:
    // Loads one mesh made of the given sub-chunks plus a one-triangle index chunk.
    const ModelMesh* LoadMesh(const std::vector<Bytes>& subChunks)
    {
        std::vector<Bytes> parts = subChunks;
        parts.push_back(IndexChunk({0, 0, 0}));
        model = Load(content.WriteModel("m", MeshListChunk({Chunk(0, Concat(parts))})));
        return model->GetMeshCount() == 1 ? model->GetMesh(0) : nullptr;
    }

    std::unique_ptr<CBrennicModel> model;
};

TEST_F(VertexDecodingTest, StaticVertexDecodesEachFieldInRecordOrder)
{
    StaticVertex v;
    v.position[0] = FromBits(0x7FC12345); // a NaN payload survives
    v.position[1] = -2.5f;
    v.position[2] = INFINITY;
    v.aux1 = PackDirection(255, 0, 0);
    v.normal = PackDirection(0, 255, 0);
    v.aux2 = PackDirection(0, 0, 255);
    v.texCoord[0] = 0.25f;
    v.texCoord[1] = -3.0f;
    const ModelMesh* mesh = LoadMesh({StaticVertexChunk({v}, 0xFFFFFFFF)}); // a leading word nothing reads
    ASSERT_NE(mesh, nullptr);
    ASSERT_EQ(mesh->vertexCount, 1u);
    const WorkVertex& w = mesh->vertices[0];
    EXPECT_EQ(Bits(w.position[0]), 0x7FC12345u);
    EXPECT_EQ(w.position[1], -2.5f);
    EXPECT_EQ(w.position[2], INFINITY);
    EXPECT_EQ(std::vector<float>(w.normal, w.normal + 3), (std::vector<float>{0, 1, 0})) << "normal is the middle word";
    EXPECT_EQ(std::vector<float>(w.aux1, w.aux1 + 3), (std::vector<float>{1, 0, 0}));
    EXPECT_EQ(std::vector<float>(w.aux2, w.aux2 + 3), (std::vector<float>{0, 0, 1}));
    EXPECT_EQ(w.texCoord[0], 0.25f);
    EXPECT_EQ(w.texCoord[1], -3.0f) << "no flip";
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(w.boneIndices[k], 0);
        EXPECT_EQ(w.boneWeights[k], 0.0f);
    }
    EXPECT_EQ(mesh->vertexForm, VertexForm::Static);
}

TEST_F(VertexDecodingTest, SkinnedVertexDequantisesExactly)
{
    const int16_t positions[] = {-32768, -1, 1, 8192, 32767};
    const float expectedPositions[] = {-12.0f, -0.0003662109375f, 0.0003662109375f, 3.0f, 11.9996337890625f};
    const int16_t texCoords[] = {-32768, -2048, 1024, 32767, 2048};
    const float expectedTexCoords[] = {-16.0f, -1.0f, 0.5f, 15.99951171875f, 1.0f};

    std::vector<SkinnedVertex> vertices(5);
    for (int i = 0; i < 5; ++i) {
        SkinnedVertex& v = vertices[i];
        v.position[0] = positions[i];
        v.position[1] = positions[4 - i];
        v.position[2] = 0;
        v.padding = 0xBEEF;
        v.normal = PackDirection(255, 127, 0);
        v.aux1 = PackDirection(0, 255, 0);
        v.aux2 = PackDirection(0, 0, 254);
        v.texCoord[0] = texCoords[i];
        v.texCoord[1] = texCoords[4 - i];
        for (int k = 0; k < 4; ++k) {
            v.boneIndices[k] = uint8_t(10 * i + k);
            v.boneWeights[k] = uint8_t(255 - k);
        }
    }
    const ModelMesh* mesh = LoadMesh({SkinnedVertexChunk({Bone{}, Bone{}}, vertices)});
    ASSERT_NE(mesh, nullptr);
    ASSERT_EQ(mesh->vertexCount, 5u);
    EXPECT_EQ(mesh->vertexForm, VertexForm::Skinned);
    for (int i = 0; i < 5; ++i) {
        const WorkVertex& w = mesh->vertices[i];
        EXPECT_EQ(w.position[0], expectedPositions[i]);
        EXPECT_EQ(w.position[1], expectedPositions[4 - i]);
        EXPECT_EQ(w.position[2], 0.0f);
        EXPECT_EQ(w.texCoord[0], expectedTexCoords[i]);
        EXPECT_EQ(w.texCoord[1], expectedTexCoords[4 - i]);
        EXPECT_EQ(w.normal[0], 1.0f);
        EXPECT_EQ(Bits(w.normal[1]), 0x3EFEFF00u);
        EXPECT_EQ(w.aux1[1], 1.0f);
        EXPECT_EQ(Bits(w.aux2[2]), 0x3F7EFF00u);
        for (int k = 0; k < 4; ++k) {
            EXPECT_EQ(w.boneIndices[k], 10 * i + k);
            EXPECT_EQ(w.boneWeights[k], float(255 - k)) << "weights are not scaled";
        }
    }
}

TEST_F(VertexDecodingTest, BoneTableIsReadPastWhateverItsSize)
{
    SkinnedVertex v;
    v.position[0] = 8192;
    std::vector<Bone> threeBones(3);
    for (Bone& bone : threeBones)
        bone.record.fill(0xFF);

    const ModelMesh* none = LoadMesh({SkinnedVertexChunk({}, {v})});
    ASSERT_NE(none, nullptr);
    const WorkVertex first = none->vertices[0];
    const ModelMesh* three = LoadMesh({SkinnedVertexChunk(threeBones, {v})});
    ASSERT_NE(three, nullptr);
    EXPECT_EQ(std::memcmp(&first, &three->vertices[0], sizeof first), 0);
    EXPECT_EQ(first.position[0], 3.0f);
}

TEST_F(VertexDecodingTest, LastVertexChunkOfAMeshWins)
{
    StaticVertex s;
    s.position[0] = 5.0f;
    SkinnedVertex k;
    k.position[0] = 8192;
    const Bytes staticChunk = StaticVertexChunk({s, s});
    const Bytes skinnedChunk = SkinnedVertexChunk({}, {k});

    const ModelMesh* skinnedLast = LoadMesh({staticChunk, skinnedChunk});
    ASSERT_NE(skinnedLast, nullptr);
    EXPECT_EQ(skinnedLast->vertexCount, 1u);
    EXPECT_EQ(skinnedLast->vertices[0].position[0], 3.0f);

    const ModelMesh* staticLast = LoadMesh({skinnedChunk, staticChunk});
    ASSERT_NE(staticLast, nullptr);
    EXPECT_EQ(staticLast->vertexCount, 2u);
    EXPECT_EQ(staticLast->vertices[1].position[0], 5.0f);

    // A later empty vertex chunk empties the mesh, which is then dropped.
    EXPECT_EQ(LoadMesh({staticChunk, StaticVertexChunk({})}), nullptr);
    EXPECT_EQ(LoadMesh({staticChunk, SkinnedVertexChunk({}, {})}), nullptr);
}

TEST_F(VertexDecodingTest, BytesAfterTheLastRecordAreSkipped)
{
    StaticVertex v;
    v.position[2] = 7.0f;
    Bytes chunk = StaticVertexChunk({v});
    chunk.insert(chunk.end(), {1, 2, 3, 4, 5});
    chunk[4] += 5; // payload size
    const ModelMesh* mesh = LoadMesh({chunk});
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(mesh->vertexCount, 1u);
    EXPECT_EQ(mesh->vertices[0].position[2], 7.0f);
    EXPECT_EQ(model->WarningCount(), 0u);
}

} // namespace
