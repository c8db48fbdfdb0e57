// The memory budget: a file's first reading is kept whole, and what can repeat (files read
// again, names grown by substitutions) is cut early. Memory is checked by counting what the
// model keeps.

#include "BrennicModel.h"

#include "TestSupport.h"

using namespace modelwriter;

namespace {

using Files = std::vector<std::pair<std::string, Bytes>>;

// The cost of what the model kept, counted from its meshes as the budget counts it.
uint64_t KeptCost(const CBrennicModel& model)
{
    uint64_t cost = 0;
    for (int i = 0; i < model.GetMeshCount(); ++i) {
        const ModelMesh& mesh = *model.GetMesh(i);
        cost += CBrennicModel::meshCost + mesh.vertexCount * CBrennicModel::vertexCost +
                mesh.indexCount * CBrennicModel::indexCost;
        for (const std::string& name : mesh.names)
            cost += name.size() * CBrennicModel::nameByteCost;
    }
    return cost;
}

bool EndedByBudget(const CBrennicModel& model)
{
    for (const LoadWarning& warning : model.Warnings())
        if (warning.message.find("memory budget spent on repeated files and substitutions") != std::string::npos)
            return true;
    return false;
}

class LoadBudgetTest : public ContentTest {
protected:
    std::unique_ptr<CBrennicModel> LoadWith(const Bytes& main, const Files& meshes,
                                            CBrennicModel::StoreBudget budget = {})
    {
        for (const auto& [name, bytes] : meshes)
            content.WriteMesh(name, bytes);
        auto model = std::make_unique<CBrennicModel>();
        model->budget = budget;
        model->Load(HostPath(content.WriteModel("main", main)), false);
        return model;
    }
};

struct Amplifier {
    const char* what;
    Bytes main;
    Files meshes;
    int unbudgetedMeshes; // what the files hold, all references followed
};

std::vector<Amplifier> Amplifiers()
{
    return {
        {"a 32 KB substitution for the mesh name, 4096 references to a file of two meshes",
         Concat({SubstitutionChunk("m=" + std::string(32768, 'x')), RepeatedReferences("two", 4096)}),
         {{"two", TinyMeshes(2, "m")}},
         2 * 4096},
        {"4096 references to a file of 100 tiny meshes",
         RepeatedReferences("hundred", 4096),
         {{"hundred", TinyMeshes(100, "t")}},
         100 * 4096},
        {"10 references to a 20 MB mesh of indices",
         RepeatedReferences("heavy", 10),
         {{"heavy", IndexHeavyMesh(10u << 20)}},
         10},
    };
}

TEST_F(LoadBudgetTest, FilesThatAmplifyAreCutEarlyWithAWarning)
{
    for (const Amplifier& amplifier : Amplifiers()) {
        const auto model = LoadWith(amplifier.main, amplifier.meshes);
        const CBrennicModel::StoreBudget budget;
        EXPECT_TRUE(EndedByBudget(*model)) << amplifier.what;
        EXPECT_EQ(model->Shortfall(), "the memory budget for repeated files and substitutions was spent");
        EXPECT_LT(model->GetMeshCount(), amplifier.unbudgetedMeshes / 4) << amplifier.what;
        EXPECT_LE(KeptCost(*model), model->StoredCost()) << amplifier.what;
        EXPECT_LE(model->ChargedCost(),
                  budget.base + budget.perByteRead * (model->BytesRead() - model->FirstReadingBytes()))
            << amplifier.what;
        EXPECT_LE(KeptCost(*model),
                  model->ChargedCost() + CBrennicModel::firstReadingRatio * model->FirstReadingBytes())
            << amplifier.what;
        EXPECT_LT(model->ReferenceCount(), 4096u / 4)
            << amplifier.what << ": the load ended, no more references followed";
    }
}

TEST_F(LoadBudgetTest, WarningNamesTheSpentBudgetAtTheChunkThatDidNotFit)
{
    // The first reading is kept whole; the second is charged, and its budget holds the mesh's
    // names and arrays but not the mesh.
    CBrennicModel::StoreBudget budget;
    budget.base = (3 + 4) * CBrennicModel::nameByteCost + 3 * CBrennicModel::vertexCost + 3 * CBrennicModel::indexCost;
    budget.perByteRead = 0;
    const auto model = LoadWith(ReferenceChunk({"m,m,"}), {{"m", MeshList({Triangle("kept")})}}, budget);
    EXPECT_EQ(model->GetMeshCount(), 1);
    ASSERT_EQ(model->Warnings().size(), 1u);
    const LoadWarning& warning = model->Warnings()[0];
    EXPECT_EQ(warning.file, HostContentRoot() + "meshes\\m.mesh");
    EXPECT_EQ(warning.offset, 8u) << "the mesh chunk that did not fit";
    EXPECT_NE(warning.message.find("0 bytes for each byte read again, and 0 MiB"), std::string::npos)
        << warning.message;
}

TEST_F(LoadBudgetTest, CutFallsBetweenWholeMeshes)
{
    // Budget for the second reading's first mesh whole and a little of its second.
    CBrennicModel::StoreBudget budget;
    budget.perByteRead = 0;
    budget.base = CBrennicModel::meshCost + 3 * CBrennicModel::vertexCost + 3 * CBrennicModel::indexCost +
                  (3 + 3) * CBrennicModel::nameByteCost + 10;
    const auto model =
        LoadWith(ReferenceChunk({"pair,pair"}), {{"pair", MeshList({Triangle("one"), Triangle("two")})}}, budget);
    EXPECT_EQ(MeshNames(*model), (std::vector<std::string>{"one", "two", "one"}));
    EXPECT_TRUE(EndedByBudget(*model));
}

// Meshes large enough that their bytes pay for them, so the budget's base plays no part.
MeshSpec Grid(const std::string& name, int side, int indicesPerTwoVertices)
{
    MeshSpec mesh = Triangle(name);
    mesh.staticVertices.resize(size_t(side) * side);
    const size_t vertexCount = mesh.staticVertices.size();
    mesh.indices.clear();
    for (size_t i = 0; i < vertexCount * indicesPerTwoVertices / 2; ++i)
        mesh.indices.push_back(uint16_t((i / 3 + (i % 3) * side) % vertexCount));
    mesh.indices.resize(mesh.indices.size() / 3 * 3);
    return mesh;
}

TEST_F(LoadBudgetTest, HonestFilesNeverReachTheBudget)
{
    // Faces with seams (1.5 indices a vertex, as the benchmark's model) and closed meshes
    // whose vertices each stand in six triangles (6 a vertex), on their bytes alone.
    CBrennicModel::StoreBudget bytesAlone;
    bytesAlone.base = 0;
    for (int indicesPerVertexTimesTwo : {3, 12}) {
        const auto model =
            LoadWith(MeshList({Grid("a", 120, indicesPerVertexTimesTwo), Grid("b", 120, indicesPerVertexTimesTwo)}), {},
                     bytesAlone);
        EXPECT_EQ(model->GetMeshCount(), 2) << indicesPerVertexTimesTwo;
        EXPECT_EQ(model->WarningCount(), 0u) << indicesPerVertexTimesTwo;
    }

    // Many distinct files, more than the notes list, and a file named twice in a diamond, with
    // the default budget. Past the listed notes only the references not loaded are counted.
    std::string names;
    Files parts;
    for (int i = 0; i < 1002; ++i) {
        parts.push_back({"part" + std::to_string(i), MeshList({Triangle("part")})});
        names += "part" + std::to_string(i) + ",";
    }
    auto model = LoadWith(ReferenceChunk({names + "gone"}), parts);
    EXPECT_EQ(model->GetMeshCount(), 1002);
    EXPECT_EQ(model->WarningCount(), 0u);
    EXPECT_EQ(model->ReferenceCount(), 1003u);
    EXPECT_EQ(model->UnlistedSkippedReferences(), 1u) << "the missing file, not the loaded ones";

    const MeshSpec shared = Grid("shared", 200, 3);
    model = LoadWith(
        ReferenceChunk({"left,right"}),
        {{"left", ReferenceChunk({"shared"})}, {"right", ReferenceChunk({"shared"})}, {"shared", MeshList({shared})}});
    EXPECT_EQ(MeshNames(*model), (std::vector<std::string>{"shared", "shared"}));
    EXPECT_EQ(model->WarningCount(), 0u);
}

TEST_F(LoadBudgetTest, ModelsReadOnceAreKeptWhole)
{
    // Many small meshes, whose fixed cost is far beyond their bytes.
    auto model = LoadWith(TinyMeshes(100000, "small"), {});
    EXPECT_EQ(model->GetMeshCount(), 100000);
    EXPECT_EQ(model->WarningCount(), 0u);
    EXPECT_EQ(model->Shortfall(), "");

    // Dense meshes: 16 indices a vertex cost more than the bytes they come from pay for.
    std::vector<MeshSpec> dense;
    for (int i = 0; i < 10; ++i)
        dense.push_back(Grid("dense", 255, 32));
    model = LoadWith(MeshList(dense), {});
    EXPECT_EQ(model->GetMeshCount(), 10);
    EXPECT_EQ(model->WarningCount(), 0u);

    // A prop placed by 300 references, each a reading of its own.
    model = LoadWith(RepeatedReferences("prop", 300), {{"prop", MeshList({Grid("prop", 15, 12)})}});
    EXPECT_EQ(model->GetMeshCount(), 300);
    EXPECT_EQ(model->WarningCount(), 0u);
    EXPECT_GT(model->ChargedCost(), 0u) << "the readings after the first are charged";
}

TEST_F(LoadBudgetTest, SubstitutionsAreChargedWhereTheyRepeatOrGrowNames)
{
    CBrennicModel::StoreBudget budget;
    budget.base = 100000;

    // A table read once is kept whole, though three of its bytes make an entry of a hundred and
    // more; read again, it is charged.
    std::string items;
    for (int i = 0; i < 200000; ++i)
        items += std::to_string(i) + "=,";
    auto model = LoadWith(ReferenceChunk({"table,table"}), {{"table", SubstitutionChunk(items)}}, budget);
    EXPECT_TRUE(EndedByBudget(*model));
    EXPECT_EQ(model->substitutions.size(), 200000u);
    EXPECT_LE(model->ChargedCost(),
              budget.base + budget.perByteRead * (model->BytesRead() - model->FirstReadingBytes()));

    // What a substitution adds to names is charged, in a file read once too.
    model = LoadWith(Concat({SubstitutionChunk("m=" + std::string(1000, 'x')), TinyMeshes(1000, "m")}), {}, budget);
    EXPECT_TRUE(EndedByBudget(*model));
    EXPECT_GT(model->GetMeshCount(), 0);
    EXPECT_LT(model->GetMeshCount(), 1000);
    EXPECT_LE(model->ChargedCost(), budget.base);
}

} // namespace
