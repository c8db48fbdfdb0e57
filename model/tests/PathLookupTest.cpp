// Paths looked up ignoring case, as the game's platform finds its data, and the loader
// following them.

#include "PathLookup.h"

#include "TestSupport.h"

#include <algorithm>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace modelwriter;

namespace {

class PathLookupTest : public ContentTest {
protected:
    std::string Make(const std::string& relative) { return WriteBytes(relative, {1}); }

    // m/barrel.MESH, m/Barrel.mesh and m/bArrel.mesh.
    void MakeThreeBarrels()
    {
        for (const char* name : {"m/barrel.MESH", "m/Barrel.mesh", "m/bArrel.mesh"})
            Make(name);
    }
};

// An empty file, made without the writer's checks: for folders of many thousands.
void Touch(const std::string& path)
{
    const int fd = open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << path;
    close(fd);
}

// A chain of folders one inside the next, removed deepest first (a recursive removal would
// hold a descriptor a level).
class Chain {
public:
    Chain(const std::string& parent, const std::string& top, int depth) : base(parent), path(parent + "/" + top)
    {
        for (int level = 0; level < depth && mkdir(path.c_str(), 0755) == 0; ++level) {
            made = path;
            path += "/d";
        }
        path = made;
    }
    ~Chain()
    {
        for (std::string level = made; level.size() > base.size(); level.resize(level.rfind('/')))
            rmdir(level.c_str());
    }
    Chain(const Chain&) = delete;
    Chain& operator=(const Chain&) = delete;

    const std::string& Deepest() const { return path; }

private:
    std::string base;
    std::string path;
    std::string made;
};

TEST_F(PathLookupTest, EachMissingComponentTakesTheNameThatDiffersOnlyInCase)
{
    const std::string actual = Make("Content/Meshes/Barrel.mesh");
    Make("Elsewhere/Inner/Skin.dds");
    Make("Elsewhere/Other.dds");
    ASSERT_EQ(symlink("../Elsewhere/Inner", (folder.Path() + "/Content/Up").c_str()), 0);
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
        // A linked folder is followed, and ".." after it is its target's parent, as the system has it.
        {folder.Path() + "/content/UP/skin.DDS", folder.Path() + "/Content/Up/Skin.dds"},
        {folder.Path() + "/content/up/../other.DDS", folder.Path() + "/Content/Up/../Other.dds"},
    };
    for (const auto& lookup : cases) {
        std::string ambiguity;
        EXPECT_EQ(ResolvePathIgnoringCase(lookup.asked, &ambiguity), lookup.found) << lookup.asked;
        EXPECT_EQ(ambiguity, "") << lookup.asked;
    }
}

TEST_F(PathLookupTest, SeveralMatchesTakeTheFirstInByteOrderWithANote)
{
    MakeThreeBarrels();
    // The second time from the folder's listing, as the first left it.
    for (int time = 0; time < 2; ++time) {
        std::string ambiguity;
        bool found = false;
        EXPECT_EQ(ResolvePathIgnoringCase(folder.Path() + "/m/BARREL.mesh", &ambiguity, &found),
                  folder.Path() + "/m/Barrel.mesh");
        EXPECT_TRUE(found);
        EXPECT_EQ(ambiguity, "'BARREL.mesh' in " + folder.Path() +
                                 "/m/ matches 'Barrel.mesh' 'bArrel.mesh' 'barrel.MESH'; took 'Barrel.mesh'");
    }
    bool found = true;
    EXPECT_EQ(ResolvePathIgnoringCase(folder.Path() + "/m/barrels.mesh", nullptr, &found),
              folder.Path() + "/m/barrels.mesh");
    EXPECT_FALSE(found);
}

TEST_F(PathLookupTest, NameAsSpeltWinsOverOtherMatches)
{
    MakeThreeBarrels();
    std::string ambiguity;
    EXPECT_EQ(ResolvePathIgnoringCase(folder.Path() + "/m/barrel.MESH", &ambiguity), folder.Path() + "/m/barrel.MESH");
    EXPECT_EQ(ambiguity, "") << "the name as spelt exists: nothing to choose";
}

TEST_F(PathLookupTest, ABatchListsAFolderOnce)
{
    for (int i = 0; i < 500; ++i)
        Make("many/File" + std::to_string(i) + ".mesh");
    const uint64_t before = FolderListingsRead();
    for (int i = 0; i < 500; ++i)
        ASSERT_EQ(ResolvePathIgnoringCase(folder.Path() + "/many/file" + std::to_string(i) + ".MESH"),
                  folder.Path() + "/many/File" + std::to_string(i) + ".mesh");
    EXPECT_EQ(FolderListingsRead() - before, 1u);
}

TEST_F(PathLookupTest, ABatchSeesAListedFolderChange)
{
    Make("many/File0.mesh");
    ASSERT_EQ(ResolvePathIgnoringCase(folder.Path() + "/many/file0.MESH"), folder.Path() + "/many/File0.mesh");
    Make("many/Later.mesh");
    EXPECT_EQ(ResolvePathIgnoringCase(folder.Path() + "/many/later.mesh"), folder.Path() + "/many/Later.mesh");
}

TEST_F(PathLookupTest, AFolderOfAnySizeIsListedOnceForABatch)
{
    // Over 8 MiB of names, links to one file: far quicker to make than as many files.
    constexpr int count = 36000;
    const std::string padding(232, 'x');
    const std::string many = folder.Path() + "/Many";
    const std::string first = Make("Many/Texture100000" + padding);
    for (int i = 1; i < count; ++i)
        ASSERT_EQ(link(first.c_str(), (many + "/Texture" + std::to_string(100000 + i) + padding).c_str()), 0);

    const uint64_t before = FolderListingsRead();
    const std::string tail = "/" + std::string(240, 'A');
    for (int i = 0; i < count; i += count / 200) {
        const std::string number = std::to_string(100000 + i);
        ASSERT_EQ(ResolvePathIgnoringCase(many + "/TEXTURE" + number + std::string(232, 'X')),
                  many + "/Texture" + number + padding);
        ASSERT_FALSE(PathNeedsBackslashInName(many + "/Missing" + number + tail));
    }
    EXPECT_EQ(FolderListingsRead() - before, 1u);
}

TEST_F(PathLookupTest, AFutureStampedFolderIsListedOnceUntilItsStampsMove)
{
    for (int i = 0; i < 100; ++i)
        Make("future/File" + std::to_string(i) + ".mesh");
    const std::string future = folder.Path() + "/future";
    const timespec tomorrow[2] = {{0, UTIME_OMIT}, {std::time(nullptr) + 86400, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, future.c_str(), tomorrow, 0), 0);

    const uint64_t before = FolderListingsRead();
    for (int i = 0; i < 100; ++i) {
        const std::string number = std::to_string(i);
        ASSERT_EQ(ResolvePathIgnoringCase(future + "/FILE" + number + ".MESH"), future + "/File" + number + ".mesh");
        ASSERT_EQ(ResolvePathIgnoringCase(future + "/none" + number + ".mesh"), future + "/none" + number + ".mesh");
    }
    EXPECT_EQ(FolderListingsRead() - before, 1u);

    // A file added with the folder's time put back after it, as archivers do: its change time
    // still moves.
    Make("future/Restored.mesh");
    ASSERT_EQ(utimensat(AT_FDCWD, future.c_str(), tomorrow, 0), 0);
    EXPECT_EQ(ResolvePathIgnoringCase(future + "/restored.MESH"), future + "/Restored.mesh");
    Make("future/Added.mesh");
    EXPECT_EQ(ResolvePathIgnoringCase(future + "/added.MESH"), future + "/Added.mesh");
}

TEST_F(PathLookupTest, ADeepChainIsWalkedInWorkLinearInItsDepth)
{
    const Chain chain(folder.Path(), "Deep", 500);
    const std::string deepest = chain.Deepest();
    ASSERT_EQ(std::count(deepest.begin() + folder.Path().size(), deepest.end(), '/'), 500);
    Touch(deepest + "/File.mesh");
    const std::string found = deepest + "/File.mesh";
    const std::string otherTop = folder.Path() + "/deep" + deepest.substr(folder.Path().size() + 5) + "/file.MESH";
    const std::string otherLeaf = deepest + "/FILE.mesh";
    const std::string otherBoth = otherTop.substr(0, otherTop.size() - 12) + "/D/file.MESH";
    const auto components = static_cast<uint64_t>(std::count(found.begin(), found.end(), '/'));

    const uint64_t listings = FolderListingsRead();
    const uint64_t walked = PathComponentsLookedUp();
    constexpr uint64_t lookups = 50;
    for (uint64_t i = 0; i < lookups; ++i) {
        ASSERT_EQ(ResolvePathIgnoringCase(otherTop), found);
        ASSERT_EQ(ResolvePathIgnoringCase(otherLeaf), found);
        ASSERT_EQ(ResolvePathIgnoringCase(otherBoth), found);
    }
    EXPECT_EQ(FolderListingsRead() - listings, 3u) << "the chain's parent, its deepest folder and that one's parent";
    EXPECT_LE(PathComponentsLookedUp() - walked, 3 * lookups * 5 * components);
    unlink(found.c_str());
}

TEST_F(PathLookupTest, BackslashInANameIsTold)
{
    Make("dir/a\\b.model");
    EXPECT_TRUE(PathNeedsBackslashInName(folder.Path() + "/dir/a/b.model"));
    EXPECT_TRUE(PathNeedsBackslashInName(folder.Path() + "/DIR/A/B.model"));
    EXPECT_FALSE(PathNeedsBackslashInName(folder.Path() + "/dir/a/c.model"));
    EXPECT_FALSE(PathNeedsBackslashInName(folder.Path() + "/dir/a\\b.model")) << "it exists";
}

TEST_F(PathLookupTest, LoaderFindsFilesWhateverTheirCase)
{
    content.WriteMesh("Props/Barrel", MeshList({Triangle("barrel")}));
    const auto model = Load(content.WriteModel("main", ReferenceChunk({"props\\barrel"})));
    EXPECT_EQ(MeshNames(*model), (std::vector<std::string>{"barrel"}));
    EXPECT_TRUE(model->Warnings().empty());

    const auto main = Load(folder.Path() + "/content/MESHES/MAIN.MODEL");
    EXPECT_EQ(main->GetMeshCount(), 1);
}

TEST_F(PathLookupTest, LoaderWarnsWhenTwoFilesMatch)
{
    content.WriteMesh("crate", MeshList({Triangle("crate one")}));
    content.WriteMesh("CRATE", MeshList({Triangle("crate two")}));
    const auto model = Load(content.WriteModel("main", ReferenceChunk({"Crate"})));
    EXPECT_EQ(MeshNames(*model), (std::vector<std::string>{"crate two"}));
    ASSERT_EQ(model->Warnings().size(), 1u);
    EXPECT_NE(model->Warnings()[0].message.find("took 'CRATE.mesh'"), std::string::npos)
        << model->Warnings()[0].message;
}

} // namespace
