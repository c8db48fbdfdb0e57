// Every seed file truncated at every length, and with every byte in turn changed by +1, -1,
// to 0x00 and to 0xFF: each variant must load or fail cleanly (the sanitizer build watches
// for reads outside the file and leaks) and the model must keep its invariants.

#include "BrennicModel.h"

#include "ModelInvariants.h"
#include "TestSupport.h"

#include <algorithm>

using namespace modelwriter;

namespace {

struct Seed {
    const char* name;
    Bytes main; // written as content/meshes/main.mesh, so it can name itself
    std::vector<std::pair<std::string, Bytes>> meshFiles;
};

MeshSpec SkinnedQuad(const std::string& name)
{
    MeshSpec mesh;
    mesh.name = name;
    mesh.texture = "skin";
    mesh.bones.resize(3);
    mesh.bones[1].id = 7;
    mesh.skinnedVertices.resize(4);
    for (int i = 0; i < 4; ++i) {
        mesh.skinnedVertices[i].position[0] = int16_t(i * 1000);
        mesh.skinnedVertices[i].boneIndices[0] = uint8_t(i % 3);
        mesh.skinnedVertices[i].boneWeights[0] = 255;
        mesh.skinnedVertices[i].normal = PackDirection(128, 255, 128);
    }
    mesh.indices = {0, 1, 2, 0, 2, 3};
    return mesh;
}

std::vector<Seed> Seeds()
{
    MeshSpec quad = Triangle("props\\quad", "quad");
    quad.staticVertices.resize(4);
    quad.indices = {0, 1, 2, 0, 2, 3};

    const Bytes duplicated =
        Chunk(0, Concat({NamesChunk("a", "b", "c"), StaticVertexChunk(quad.staticVertices), IndexChunk({0, 1, 2}),
                         SkinnedVertexChunk({Bone{}}, SkinnedQuad("s").skinnedVertices), IndexChunk({3, 2, 1}),
                         HeaderChunk({}), Chunk(6, {1, 2})}));
    return {
        {"everything",
         Concat({SubstitutionChunk("quad=walls\\brick,props\\quad=props\\renamed"),
                 MeshListChunk(std::vector<MeshSpec>{quad, SkinnedQuad("props\\skin")}),
                 ReferenceChunk({"part,part_lod1", "main"})}),
         {{"part", MeshList({Triangle("part")})},
          {"part_lod1", Concat({MeshList({Triangle("lod")}), ReferenceChunk({"part"})})}}},
        {"lists and duplicates",
         Concat({MeshListChunk({duplicated, MeshChunk(Triangle("t"))}), ReferenceChunk({"main,part"}),
                 MeshList({Triangle("second")})}),
         {{"part", Concat({MeshList({Triangle("part")}), ReferenceChunk({"main"})})}}},
    };
}

class MutationSweepTest : public ContentTest {
protected:
    // Loads `bytes` as the main file and checks what the model holds.
    void LoadVariant(const Bytes& bytes, const ReadableFiles& files, const std::string& what)
    {
        WriteFile(content.MeshPath("main"), bytes);
        int result = -1;
        const auto model = Load(content.MeshPath("main"), true, &result);
        ASSERT_EQ(BrokenModelInvariant(*model, result, files), "") << what;
        ++variants;
    }

    size_t variants = 0;
};

TEST_F(MutationSweepTest, EveryMutationLoadsOrFailsCleanly)
{
    for (const Seed& seed : Seeds()) {
        ReadableFiles files{seed.main.size(), seed.main.size()};
        for (const auto& [name, bytes] : seed.meshFiles) {
            content.WriteMesh(name, bytes);
            files.largest = std::max<uint64_t>(files.largest, bytes.size());
            files.total += bytes.size();
        }
        for (size_t length = 0; length <= seed.main.size(); ++length)
            LoadVariant(Bytes(seed.main.begin(), seed.main.begin() + long(length)), files,
                        std::string(seed.name) + " truncated to " + std::to_string(length));

        for (size_t at = 0; at < seed.main.size(); ++at) {
            const uint8_t original = seed.main[at];
            for (uint8_t changed : {uint8_t(original + 1), uint8_t(original - 1), uint8_t(0x00), uint8_t(0xFF)}) {
                if (changed == original)
                    continue;
                Bytes variant = seed.main;
                variant[at] = changed;
                LoadVariant(variant, files,
                            std::string(seed.name) + " byte " + std::to_string(at) + " = " + std::to_string(changed));
            }
        }
    }
    EXPECT_GT(variants, 2000u);
}

} // namespace
