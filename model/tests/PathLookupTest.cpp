// Paths looked up ignoring case, as the game's platform finds its data, and the loader
// following them.

#include "PathLookup.h"

#include "TestSupport.h"

using namespace modelwriter;

namespace {

class PathLookupTest : public ContentTest {
protected:
    std::string Make(const std::string& relative) { return WriteBytes(relative, {1}); }
};

TEST_F(PathLookupTest, EachMissingComponentTakesTheNameThatDiffersOnlyInCase)
{
    const std::string actual = Make("Content/Meshes/Barrel.mesh");
    const struct {
        std::string asked;
        std::string found;
    } cases[] = {
        {folder.Path() + "/content/meshes/barrel.mesh", actual},
        {folder.Path() + "/CONTENT/meshes/BARREL.MESH", actual},
        {folder.Path() + "/Content/Meshes/Barrel.mesh", actual},
        {folder.Path() + "/content/meshes/barrel.mes", folder.Path() + "/content/meshes/barrel.mes"}, // none: as asked
        {folder.Path() + "/content/meshes/barrel.mesh/x",
         folder.Path() + "/content/meshes/barrel.mesh/x"}, // a file is no folder
        {folder.Path() + "//content/./meshes/../Meshes/barrel.mesh",
         folder.Path() + "/Content/./Meshes/../Meshes/Barrel.mesh"},
    };
    for (const auto& lookup : cases) {
        std::string ambiguity;
        EXPECT_EQ(ResolvePathIgnoringCase(lookup.asked, &ambiguity), lookup.found) << lookup.asked;
        EXPECT_EQ(ambiguity, "") << lookup.asked;
    }
}

TEST_F(PathLookupTest, SeveralMatchesTakeTheFirstInByteOrderAndSaySo)
{
    Make("m/barrel.MESH");
    Make("m/Barrel.mesh");
    Make("m/bArrel.mesh");
    std::string ambiguity;
    EXPECT_EQ(ResolvePathIgnoringCase(folder.Path() + "/m/BARREL.mesh", &ambiguity), folder.Path() + "/m/Barrel.mesh");
    EXPECT_NE(ambiguity.find("'Barrel.mesh' 'bArrel.mesh' 'barrel.MESH'; took 'Barrel.mesh'"), std::string::npos)
        << ambiguity;

    ambiguity.clear();
    EXPECT_EQ(ResolvePathIgnoringCase(folder.Path() + "/m/barrel.MESH", &ambiguity), folder.Path() + "/m/barrel.MESH");
    EXPECT_EQ(ambiguity, "") << "the name as spelt exists: nothing to choose";
}

TEST_F(PathLookupTest, ABatchListsAFolderOnceAndSeesItChange)
{
    for (int i = 0; i < 500; ++i)
        Make("many/File" + std::to_string(i) + ".mesh");
    const uint64_t before = FolderListingsRead();
    for (int i = 0; i < 500; ++i)
        ASSERT_EQ(ResolvePathIgnoringCase(folder.Path() + "/many/file" + std::to_string(i) + ".MESH"),
                  folder.Path() + "/many/File" + std::to_string(i) + ".mesh");
    EXPECT_EQ(FolderListingsRead() - before, 1u);

    Make("many/Later.mesh");
    EXPECT_EQ(ResolvePathIgnoringCase(folder.Path() + "/many/later.mesh"), folder.Path() + "/many/Later.mesh");
}

TEST_F(PathLookupTest, BackslashInANameIsTold)
{
    Make("dir/a\\b.model");
    EXPECT_TRUE(PathNeedsBackslashInName(folder.Path() + "/dir/a/b.model"));
    EXPECT_TRUE(PathNeedsBackslashInName(folder.Path() + "/DIR/A/B.model"));
    EXPECT_FALSE(PathNeedsBackslashInName(folder.Path() + "/dir/a/c.model"));
    EXPECT_FALSE(PathNeedsBackslashInName(folder.Path() + "/dir/a\\b.model")) << "it exists";
}

TEST_F(PathLookupTest, LoaderFindsFilesWhateverTheirCaseAndWarnsWhenTwoMatch)
{
    content.WriteMesh("Props/Barrel", MeshList({Triangle("barrel")}));
    content.WriteMesh("crate", MeshList({Triangle("crate one")}));
    content.WriteMesh("CRATE", MeshList({Triangle("crate two")}));
    const auto model = Load(content.WriteModel("main", ReferenceChunk({"props\\barrel,Crate"})));
    EXPECT_EQ(MeshNames(*model), (std::vector<std::string>{"barrel", "crate two"}));
    ASSERT_EQ(model->Warnings().size(), 1u);
    EXPECT_NE(model->Warnings()[0].message.find("took 'CRATE.mesh'"), std::string::npos)
        << model->Warnings()[0].message;

    const auto main = Load(folder.Path() + "/content/MESHES/MAIN.MODEL");
    EXPECT_EQ(main->GetMeshCount(), 2);
}

} // namespace
