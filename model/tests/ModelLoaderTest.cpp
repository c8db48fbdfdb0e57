#include "BrennicModel.h"

#include "TestSupport.h"

#include <unistd.h>

using namespace modelwriter;

namespace {

using Outcome = ReferenceNote::Outcome;

class ModelLoaderTest : public ContentTest {
protected:
    // Loads a main file holding `bytes` at content/meshes/main.model.
    std::unique_ptr<CBrennicModel> LoadMain(const Bytes& bytes, bool includeLods = false, int* result = nullptr)
    {
        return Load(content.WriteModel("main", bytes), includeLods, result);
    }

    static std::vector<Outcome> Outcomes(const CBrennicModel& model)
    {
        std::vector<Outcome> outcomes;
        for (const ReferenceNote& note : model.References())
            outcomes.push_back(note.outcome);
        return outcomes;
    }
};

TEST(ContentRootOf, KeepsThePrefixUpToTheLastContentFolder)
{
    EXPECT_EQ(ContentRootOf("D:\\g\\content\\meshes\\a.model"), "D:\\g\\content\\");
    EXPECT_EQ(ContentRootOf("D:/g\\content\\meshes\\a.model"), "D:\\g\\content\\")
        << "slashes before it become backslashes";
    EXPECT_EQ(ContentRootOf("D:\\a\\content\\b\\content\\c.mesh"), "D:\\a\\content\\b\\content\\");
    EXPECT_EQ(ContentRootOf("D:/g/content/meshes/a.model"), "") << "only backslashes delimit the marker";
    EXPECT_EQ(ContentRootOf("D:\\g\\Content\\a.model"), "") << "case matters";
    EXPECT_EQ(ContentRootOf(""), "");
}

TEST_F(ModelLoaderTest, OneMeshKeepsEverythingTheFileHolds)
{
    MeshSpec mesh = Triangle("props\\barrel", "walls\\brick");
    mesh.third = "third";
    for (uint8_t i = 0; i < 64; ++i)
        mesh.header[i] = i;
    int result = 0;
    const auto model = LoadMain(MeshList({mesh}), false, &result);
    EXPECT_EQ(result, 1);
    ASSERT_EQ(model->GetMeshCount(), 1);
    const ModelMesh& loaded = *model->GetMesh(0);
    EXPECT_EQ(std::vector<uint8_t>(loaded.header, loaded.header + 64),
              std::vector<uint8_t>(mesh.header.begin(), mesh.header.end()));
    EXPECT_EQ(loaded.names[0], "walls\\brick");
    EXPECT_EQ(loaded.names[1], "props\\barrel");
    EXPECT_EQ(loaded.names[2], "third");
    ASSERT_EQ(loaded.vertexCount, 3u);
    EXPECT_EQ(loaded.vertices[2].position[2], 1.0f);
    ASSERT_EQ(loaded.indexCount, 3u);
    EXPECT_EQ(std::vector<uint16_t>(loaded.indices.get(), loaded.indices.get() + 3), (std::vector<uint16_t>{0, 1, 2}));
    EXPECT_EQ(model->contentRoot, HostContentRoot());
    EXPECT_EQ(model->WarningCount(), 0u);
}

TEST_F(ModelLoaderTest, MeshWithoutVerticesOrIndicesIsDropped)
{
    const MeshSpec good = Triangle("good");
    MeshSpec noIndices = Triangle("no indices");
    noIndices.indices.clear(); // written as an index chunk with count 0
    const Bytes noIndexChunk =
        Chunk(0, Concat({NamesChunk("t", "no index chunk", ""), StaticVertexChunk(good.staticVertices)}));
    const Bytes noVertexChunk = Chunk(0, Concat({NamesChunk("t", "no vertex chunk", ""), IndexChunk({0, 1, 2})}));

    int result = 0;
    auto model =
        LoadMain(MeshListChunk({MeshChunk(noIndices), noIndexChunk, noVertexChunk, MeshChunk(good)}), false, &result);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(MeshNames(*model), (std::vector<std::string>{"good"}));

    model = LoadMain(MeshListChunk({MeshChunk(noIndices), noIndexChunk, noVertexChunk}), false, &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(model->GetMeshCount(), 0);
}

TEST_F(ModelLoaderTest, LaterSubChunksReplaceEarlierOnes)
{
    const MeshSpec mesh = Triangle("first");
    const Bytes chunk =
        Chunk(0, Concat({NamesChunk("t", "first", ""), StaticVertexChunk(mesh.staticVertices), IndexChunk({2, 1, 0, 0}),
                         IndexChunk({0, 1, 2}), NamesChunk("t", "second", "")}));
    const auto model = LoadMain(MeshListChunk({chunk}));
    ASSERT_EQ(model->GetMeshCount(), 1);
    EXPECT_EQ(model->GetMesh(0)->names[1], "second");
    EXPECT_EQ(model->GetMesh(0)->indexCount, 3u);
    EXPECT_EQ(model->GetMesh(0)->indices[0], 0);
}

TEST_F(ModelLoaderTest, UnknownChunksAreSkipped)
{
    // Unknown ids at the top, as a mesh in the list, and among a mesh's sub-chunks.
    const MeshSpec mesh = Triangle("kept");
    const Bytes chunk = Chunk(77, Concat({NamesChunk("t", "kept", ""), Chunk(0, {1, 2, 3}), Chunk(6, {4}),
                                          StaticVertexChunk(mesh.staticVertices), IndexChunk({0, 1, 2})}));
    const auto model = LoadMain(Concat({Chunk(3, {}), Chunk(1000, Bytes(10, 9)), MeshListChunk({chunk})}));
    ASSERT_EQ(model->GetMeshCount(), 1);
    EXPECT_EQ(model->GetMesh(0)->names[1], "kept");
    EXPECT_EQ(model->GetMesh(0)->indexCount, 3u);
}

TEST_F(ModelLoaderTest, ReferencedMeshesStandWhereTheirChunkStandsDepthFirst)
{
    content.WriteMesh("b", Concat({MeshList({Triangle("b")}), ReferenceChunk({"c"})})); // "c" alone is one character
    content.WriteMesh("cc", MeshList({Triangle("cc")}));
    content.WriteMesh("bb", Concat({MeshList({Triangle("bb1")}), ReferenceChunk({"cc"}), MeshList({Triangle("bb2")})}));
    const auto model =
        LoadMain(Concat({MeshList({Triangle("a1")}), ReferenceChunk({"b,bb"}), MeshList({Triangle("a2")})}));
    EXPECT_EQ(MeshNames(*model), (std::vector<std::string>{"a1", "b", "bb1", "cc", "bb2", "a2"}));
    ASSERT_EQ(model->References().size(), 3u);
    EXPECT_EQ(model->References()[0].path, HostContentRoot() + "meshes\\b.mesh");
    EXPECT_EQ(model->References()[2].depth, 2u);
}

TEST_F(ModelLoaderTest, ReferenceListsFollowTheSplitRules)
{
    // Items split at commas, untrimmed; a one-character tail is dropped, an empty item is not.
    for (const char* name : {"a", "bc", "ab", "body", "arm", "cd", "ef", " gh ", " ij"})
        content.WriteMesh(name, MeshList({Triangle(name)}));
    const auto model = LoadMain(ReferenceChunk({"body,arm", "a,bc", "ab,c", "x", "", ",cd", "ef,", " gh , ij"}));
    EXPECT_EQ(MeshNames(*model), (std::vector<std::string>{"body", "arm", "a", "bc", "ab", "cd", "ef", " gh ", " ij"}));
    ASSERT_EQ(model->References().size(), 10u);
    EXPECT_EQ(model->References()[5].outcome, Outcome::Missing) << "the empty item";
    EXPECT_EQ(model->References()[5].path, HostContentRoot() + "meshes\\.mesh");
}

TEST_F(ModelLoaderTest, ReferenceCountZeroReadsNothingMore)
{
    content.WriteMesh("ab", MeshList({Triangle("ab")}));
    int result = 1;
    const auto model = LoadMain(Chunk(16, ByteWriter().U32(0).String("ab").Take()), false, &result);
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(model->References().empty());
}

TEST_F(ModelLoaderTest, LodReferencesLoadOnlyWhenAsked)
{
    content.WriteMesh("head_lod1", MeshList({Triangle("head_lod1")}));
    content.WriteMesh("head", MeshList({Triangle("head")}));
    const Bytes main = ReferenceChunk({"head_lod1,head"});
    const auto without = LoadMain(main, false);
    EXPECT_EQ(MeshNames(*without), (std::vector<std::string>{"head"}));
    EXPECT_EQ(Outcomes(*without), (std::vector<Outcome>{Outcome::SkippedLod, Outcome::Loaded}));
    EXPECT_EQ(MeshNames(*LoadMain(main, true)), (std::vector<std::string>{"head_lod1", "head"}));
}

TEST_F(ModelLoaderTest, ContentRootHoldingLodMakesEveryReferenceALod)
{
    modelwriter::TemporaryFolder lodFolder;
    const ContentFolder lodContent(lodFolder.Path() + "/game_lod");
    lodContent.WriteMesh("head", MeshList({Triangle("head")}));
    const std::string main =
        lodContent.WriteModel("main", Concat({MeshList({Triangle("main")}), ReferenceChunk({"head,"})}));
    EXPECT_EQ(MeshNames(*Load(main, false)), (std::vector<std::string>{"main"}));
    EXPECT_EQ(MeshNames(*Load(main, true)), (std::vector<std::string>{"main", "head"}));
}

TEST_F(ModelLoaderTest, MissingReferencedFileIsSkipped)
{
    int result = 0;
    const auto model = LoadMain(Concat({ReferenceChunk({"gone,here"}), MeshList({Triangle("main")})}), false, &result);
    content.WriteMesh("here", {}); // empty: cannot be mapped, so it is missing too
    EXPECT_EQ(result, 1);
    EXPECT_EQ(Outcomes(*model), (std::vector<Outcome>{Outcome::Missing, Outcome::Missing}));
}

TEST_F(ModelLoaderTest, WithoutContentRootReferencesResolveFromTheWorkingFolder)
{
    const std::string main =
        WriteBytes("loose/main.model", Concat({MeshList({Triangle("main")}), ReferenceChunk({"body"})}));
    WriteBytes("meshes/body.mesh", MeshList({Triangle("body")}));
    char* previous = getcwd(nullptr, 0);
    ASSERT_EQ(chdir(folder.Path().c_str()), 0);
    const auto model = Load(main);
    EXPECT_EQ(chdir(previous), 0);
    std::free(previous);
    EXPECT_EQ(model->contentRoot, "");
    EXPECT_EQ(MeshNames(*model), (std::vector<std::string>{"main", "body"}));
    EXPECT_EQ(model->References()[0].path, "meshes\\body.mesh");
}

TEST_F(ModelLoaderTest, SubstitutionsApplyToNamesReadAfterThem)
{
    MeshSpec mesh = Triangle("old");
    mesh.texture = "x";
    mesh.third = "z";
    const Bytes table = SubstitutionChunk("old=new,x=y");
    const auto before = LoadMain(Concat({table, MeshList({mesh})}));
    ASSERT_EQ(before->GetMeshCount(), 1);
    EXPECT_EQ(before->GetMesh(0)->names[0], "y");
    EXPECT_EQ(before->GetMesh(0)->names[1], "new");
    EXPECT_EQ(before->GetMesh(0)->names[2], "z");

    const auto after = LoadMain(Concat({MeshList({mesh}), table}));
    EXPECT_EQ(after->GetMesh(0)->names[1], "old");
    EXPECT_EQ(after->GetMesh(0)->names[0], "x");
}

TEST_F(ModelLoaderTest, SubstitutionItemsFollowTheirRules)
{
    const auto model = LoadMain(SubstitutionChunk("noequals,=v,k=,a=b=c,r=1,r=2,new=old,old=new"));
    const std::map<std::string, std::string> expected{{"", "v"},  {"k", ""},      {"a", "b=c"},
                                                      {"r", "2"}, {"new", "old"}, {"old", "new"}};
    EXPECT_EQ(model->substitutions, expected);
    EXPECT_EQ(model->Substitute("old"), "new") << "a value is not looked up again";
    EXPECT_EQ(model->Substitute("OLD"), "OLD") << "keys match byte for byte";
}

TEST_F(ModelLoaderTest, SubstitutionsOfReferencedFilesJoinTheOneTable)
{
    content.WriteMesh("part", Concat({SubstitutionChunk("late=renamed"), MeshList({Triangle("part")})}));
    const auto model = LoadMain(Concat({ReferenceChunk({"part"}), MeshList({Triangle("late")})}));
    EXPECT_EQ(MeshNames(*model), (std::vector<std::string>{"part", "renamed"}));
}

TEST_F(ModelLoaderTest, ReferenceCyclesEnd)
{
    // A file naming itself.
    content.WriteMesh("self", Concat({MeshList({Triangle("self")}), ReferenceChunk({"self"})}));
    const auto self = Load(content.MeshPath("self"));
    EXPECT_EQ(MeshNames(*self), (std::vector<std::string>{"self"}));
    EXPECT_EQ(Outcomes(*self), (std::vector<Outcome>{Outcome::SkippedCycle}));

    // A -> B -> A: each file once.
    content.WriteMesh("aa", Concat({MeshList({Triangle("aa")}), ReferenceChunk({"bb"})}));
    content.WriteMesh("bb", Concat({MeshList({Triangle("bb")}), ReferenceChunk({"aa"})}));
    const auto pair = Load(content.MeshPath("aa"));
    EXPECT_EQ(MeshNames(*pair), (std::vector<std::string>{"aa", "bb"}));
    EXPECT_EQ(Outcomes(*pair), (std::vector<Outcome>{Outcome::Loaded, Outcome::SkippedCycle}));
}

TEST_F(ModelLoaderTest, CycleThroughAnotherSpellingOfThePathEnds)
{
    // Seven names of one file, each a cycle: without the identity test each would load it
    // again, 7^depth times over.
    std::string names;
    for (int dots = 1; dots <= 7; ++dots) {
        std::string name;
        for (int i = 0; i < dots; ++i)
            name += "..\\meshes\\";
        names += name + "self,";
    }
    content.WriteMesh("self", Concat({MeshList({Triangle("self")}), ReferenceChunk({names})}));
    const auto model = Load(content.MeshPath("self"));
    EXPECT_EQ(model->GetMeshCount(), 1);
    EXPECT_EQ(Outcomes(*model), std::vector<Outcome>(7, Outcome::SkippedCycle));
}

TEST_F(ModelLoaderTest, ReferencedBytesStopAtTheByteBudget)
{
    const Bytes part = MeshList({Triangle("part")});
    content.WriteMesh("part", part);
    auto model = std::make_unique<CBrennicModel>();
    model->limits.bytes = 3 * part.size();
    EXPECT_EQ(model->Load(HostPath(content.WriteModel("main", ReferenceChunk({"part,part,part,part,part"}))), false),
              1);
    EXPECT_EQ(model->GetMeshCount(), 3);
    EXPECT_EQ(model->References().back().outcome, Outcome::SkippedOverBudget);
}

TEST_F(ModelLoaderTest, DiamondWithoutCycleLoadsTheSharedFileTwice)
{
    content.WriteMesh("left", Concat({MeshList({Triangle("left")}), ReferenceChunk({"shared"})}));
    content.WriteMesh("right", Concat({MeshList({Triangle("right")}), ReferenceChunk({"shared"})}));
    content.WriteMesh("shared", MeshList({Triangle("shared")}));
    const auto model = LoadMain(ReferenceChunk({"left,right,shared"}));
    EXPECT_EQ(MeshNames(*model), (std::vector<std::string>{"left", "shared", "right", "shared", "shared"}));
}

TEST_F(ModelLoaderTest, LongReferenceChainStopsAtTheDepthLimit)
{
    // More files than the limit reaches: the chain ends at the limit, not at its last file.
    const int files = int(CBrennicModel::ReferenceLimits{}.depth) + 2;
    for (int i = 0; i < files; ++i) {
        const std::string name = "chain" + std::to_string(i);
        content.WriteMesh(name,
                          Concat({MeshList({Triangle(name)}), ReferenceChunk({"chain" + std::to_string(i + 1)})}));
    }
    const auto model = Load(content.MeshPath("chain0"));
    EXPECT_EQ(model->GetMeshCount(), int(CBrennicModel::ReferenceLimits{}.depth));
    ASSERT_FALSE(model->References().empty());
    EXPECT_EQ(model->References().back().outcome, Outcome::SkippedTooDeep);
}

TEST_F(ModelLoaderTest, ReferenceFanOutStopsAtTheFileBudget)
{
    // Each level names the next twice: 2^20 loads without a budget.
    for (int level = 0; level < 20; ++level) {
        const std::string next = "level" + std::to_string(level + 1);
        const Bytes references = level < 19 ? ReferenceChunk({next + "," + next}) : Bytes();
        content.WriteMesh("level" + std::to_string(level), Concat({MeshList({Triangle("m")}), references}));
    }
    const auto model = Load(content.MeshPath("level0"));
    EXPECT_EQ(model->GetMeshCount(), int(CBrennicModel::ReferenceLimits{}.files) + 1);
    EXPECT_GT(model->ReferenceCount(), model->References().size()) << "notes are capped too";
}

TEST_F(ModelLoaderTest, CountsBeyondTheirPayloadDropOnlyThatChunk)
{
    const MeshSpec mesh = Triangle("m");
    const Bytes names = NamesChunk("t", "m", "");
    const Bytes vertices = StaticVertexChunk(mesh.staticVertices);
    const Bytes indices = IndexChunk({0, 1, 2});
    struct Case {
        const char* what;
        Bytes chunk;
    } cases[] = {
        {"index count", Chunk(4, ByteWriter().U32(0xFFFFFFFF).U16(0).Take())},
        {"index count by one", Chunk(4, ByteWriter().U32(4).U16(0).U16(1).U16(2).Take())},
        {"static count", Chunk(3, ByteWriter().U32(0).U32(0x08000000).Take())},
        {"skinned count", Chunk(5, ByteWriter().U8(0).U32(2).Append(Bytes(32, 0)).Take())},
        {"skinned bone table", Chunk(5, ByteWriter().U8(255).Append(Bytes(100, 0)).Take())},
        {"header", Chunk(1, Bytes(63, 1))},
        {"names", Chunk(2, ByteWriter().String("a").String("b").Take())},
    };
    for (const Case& broken : cases) {
        // The broken chunk comes last, so the good ones before it must survive it.
        const auto model = LoadMain(MeshListChunk({Chunk(0, Concat({names, vertices, indices, broken.chunk}))}));
        ASSERT_EQ(model->GetMeshCount(), 1) << broken.what;
        const ModelMesh& loaded = *model->GetMesh(0);
        EXPECT_EQ(loaded.vertexCount, 3u) << broken.what;
        EXPECT_EQ(loaded.indexCount, 3u) << broken.what;
        EXPECT_EQ(loaded.names[1], "m") << broken.what;
        EXPECT_EQ(loaded.header[0], 0) << broken.what;
        EXPECT_EQ(model->WarningCount(), 1u) << broken.what;
    }
}

TEST_F(ModelLoaderTest, BrokenTopLevelChunksKeepWhatCameBefore)
{
    content.WriteMesh("ab", MeshList({Triangle("ab")}));
    const Bytes references = Chunk(16, ByteWriter().U32(1000000).String("ab").Take());
    const Bytes unterminated = Chunk(29, {'m', '=', 'x'});
    const auto model = LoadMain(Concat({references, unterminated, MeshList({Triangle("m")})}));
    EXPECT_EQ(MeshNames(*model), (std::vector<std::string>{"ab", "m"}));
    EXPECT_EQ(model->WarningCount(), 2u);
    ASSERT_EQ(model->Warnings().size(), 2u);
    EXPECT_EQ(model->Warnings()[1].offset, references.size()) << "warnings say where the chunk stands";
}

TEST_F(ModelLoaderTest, TruncatedFileKeepsTheMeshesItHoldsWhole)
{
    const Bytes whole = MeshList({Triangle("one"), Triangle("two"), Triangle("three")});
    const Bytes cut(whole.begin(), whole.end() - 10);
    const auto model = LoadMain(cut);
    EXPECT_EQ(MeshNames(*model), (std::vector<std::string>{"one", "two"}));
    EXPECT_GE(model->WarningCount(), 1u);
}

TEST_F(ModelLoaderTest, IndicesPastTheVerticesAreKeptAsTheFileHasThem)
{
    MeshSpec mesh = Triangle("m");
    mesh.indices = {0, 1, 65535};
    const auto model = LoadMain(MeshList({mesh}));
    ASSERT_EQ(model->GetMeshCount(), 1);
    EXPECT_EQ(model->GetMesh(0)->indices[2], 65535);
    EXPECT_EQ(model->GetMesh(0)->vertexCount, 3u);
}

} // namespace
