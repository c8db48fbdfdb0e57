// What model and texture files may say that the converter must not pass on as it is: names
// with line breaks and control bytes, textures that claim more than they hold or are spelt many
// ways, references and textures outside the content folder, references that are not files, and
// what --list says of them.
#include "DdsWriter.h"
#include "ExportTestSupport.h"
#include "Listing.h"
#include "LoadReport.h"
#include "Printable.h"
#include "TextureLayout.h"
#include "Writers.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using modelwriter::MeshSpec;
namespace fs = std::filesystem;

using modelwriter::ReadText;

namespace {

bool HasControlBytes(const std::string& text)
{
    return std::any_of(text.begin(), text.end(), [](unsigned char c) { return (c < ' ' && c != '\n') || c == 0x7F; });
}

// brennic-import run with these arguments (none holding a single quote): stdout and stderr.
std::string Import(const std::vector<std::string>& arguments, int& status)
{
    std::string command = BRENNIC_IMPORT;
    for (const std::string& argument : arguments)
        command += " '" + argument + "'";
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    std::string output;
    char buffer[4096];
    for (size_t got; pipe && (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, got);
    status = pipe ? pclose(pipe) : -1;
    status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return output;
}

// Bytes this process has read through read() and pread() so far.
uint64_t BytesReadByProcess()
{
    std::ifstream io("/proc/self/io");
    std::string key;
    uint64_t value = 0;
    while (io >> key >> value)
        if (key == "rchar:")
            return value;
    return 0;
}

modelwriter::Bytes Pixels(uint32_t size)
{
    return modelwriter::Dds(size, size, [](uint32_t x, uint32_t y) {
        return std::array<uint8_t, 4>{uint8_t(x), uint8_t(y), 9, 255};
    });
}

class UntrustedInputTest : public ExportTest {
protected:
    // One triangle whose material names the texture at `path`, without the plug-in.
    static ExportScene TexturedTriangle(const std::string& path)
    {
        ExportScene scene;
        ExportMesh mesh;
        mesh.name = "triangle";
        mesh.vertices = {
            {{0, 0, 0}, {0, 0, 1}, {0, 0}}, {{1, 0, 0}, {0, 0, 1}, {0, 0}}, {{0, 1, 0}, {0, 0, 1}, {0, 0}}};
        mesh.indices = {0, 1, 2};
        mesh.material = 0;
        scene.meshes.push_back(mesh);
        scene.materials.push_back({"material", 0});
        scene.textures.push_back(LookUpTexture(path));
        return scene;
    }
};

TEST_F(UntrustedInputTest, TextureNamesCannotAddLinesToTheMtlNorPrintControlBytes)
{
    const std::string injected = "evil\nnewmtl injected\nmap_Kd \x1b[31mred\r";
    content.WriteTexture("tab\tname", "512", Pixels(1)); // decoded: its PNG is named in the MTL
    const std::string model =
        content.WriteModel("main", modelwriter::MeshListChunk({Triangle("a", injected), Triangle("b", "tab\tname")}));
    int status = 0;
    const std::string said = Import({"--format=obj", "-o", output.Path() + "/out.obj", model}, status);
    EXPECT_EQ(status, 0) << said;

    const std::string mtl = ReadText(output.Path() + "/out.mtl");
    EXPECT_FALSE(HasControlBytes(mtl)) << mtl;
    std::istringstream lines(mtl);
    size_t materials = 0, maps = 0;
    for (std::string line; std::getline(lines, line);) {
        const bool named = line.rfind("newmtl ", 0) == 0 || line.rfind("map_", 0) == 0;
        materials += line.rfind("newmtl ", 0) == 0;
        maps += line.rfind("map_Kd ", 0) == 0;
        if (named) {
            EXPECT_EQ(std::count(line.begin(), line.end(), ' '), 1) << "a keyword and one word: " << line;
        }
    }
    EXPECT_EQ(materials, 2u) << mtl;
    EXPECT_EQ(maps, 1u) << "the decoded texture's PNG alone: " << mtl;
    EXPECT_FALSE(HasControlBytes(said)) << said;
    EXPECT_EQ(said.find("\nnewmtl"), std::string::npos) << said;
}

TEST_F(UntrustedInputTest, OneTextureUnderTwentySpellingsIsHandledOnce)
{
    content.WriteTexture("props/crate", "512", Pixels(64));
    std::vector<MeshSpec> meshes;
    for (const char* path : {"props\\", ".\\props\\", "..\\textures\\props\\", "props\\..\\props\\"})
        for (const char* name : {"crate", "CRATE", "Crate", "cRATE", "crATe"})
            meshes.push_back(Triangle("m" + std::to_string(meshes.size()), std::string(path) + name));
    const ExportScene exported = Build(meshes);
    ASSERT_EQ(exported.textures.size(), 20u) << "twenty paths in the scene";

    TextureCache cache;
    const std::string glb = Write(exported, OutputFormat::Glb, "crates.glb", cache);
    Write(exported, OutputFormat::Gltf, "crates.gltf", cache);
    EXPECT_EQ(warnings, std::vector<std::string>{});
    EXPECT_EQ(cache.Reads(), 1u);
    EXPECT_EQ(cache.Decodes(), 1u);
    const std::string bytes = ReadText(glb);
    uint32_t jsonLength = 0;
    std::memcpy(&jsonLength, bytes.data() + 12, 4);
    const nlohmann::json root = nlohmann::json::parse(bytes.substr(20, jsonLength));
    EXPECT_EQ(root.at("images").size(), 1u) << "one PNG in the .glb";
    EXPECT_EQ(root.at("textures").size(), 20u);
    size_t pngs = 0;
    for (const auto& entry : fs::directory_iterator(output.Path() + "/crates_textures"))
        pngs += entry.path().extension() == ".png";
    EXPECT_EQ(pngs, 1u) << "one PNG beside the .gltf";
}

TEST_F(UntrustedInputTest, ATextureFoundIgnoringCaseAmongTwoSaysWhichItTook)
{
    const std::string taken = content.WriteTexture("Crate", "512", Pixels(2));
    content.WriteTexture("crate", "512", Pixels(4));
    TextureCache cache;
    const std::string glb =
        Write(TexturedTriangle(content.TexturePath("CRATE", "512")), OutputFormat::Glb, "crate.glb", cache);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("CRATE.512.dds found ignoring case: 'CRATE.512.dds' in "), std::string::npos)
        << warnings[0];
    EXPECT_NE(warnings[0].find("took 'Crate.512.dds'"), std::string::npos) << warnings[0];
    EXPECT_EQ(cache.BytesRead(), fs::file_size(taken)) << "the first in byte order, read";
}

// Header and pixels as the file claims them, in a file made sparse to `fileSize`.
struct DdsClaim {
    const char* what;
    uint32_t width, height;
    modelwriter::DdsEncoding encoding;
    uint64_t fileSize;
    uint64_t mayRead;    // the longest header (148 bytes) or, when decoded, through the top level
    const char* problem; // in the warning, or null when a PNG is made
};

TEST_F(UntrustedInputTest, ALargeOrLyingDdsIsReadOnlyAsFarAsItsTopLevelNeeds)
{
    constexpr uint64_t GiB = uint64_t{1} << 30;
    const DdsClaim claims[] = {
        {"a small texture in a sparse 1 GiB file", 64, 64, modelwriter::DdsEncoding::BC1, GiB, 128 + 2048, nullptr},
        {"more pixels than decoded", 65536, 65536, modelwriter::DdsEncoding::BC1, GiB, 148,
         "the image is too large: 65536 x 65536"},
        {"more bytes than the file holds", 16384, 16384, modelwriter::DdsEncoding::A8R8G8B8, GiB / 2, 148,
         "the file is truncated"},
    };
    for (const DdsClaim& claim : claims) {
        SCOPED_TRACE(claim.what);
        modelwriter::DdsSpec spec;
        spec.encoding = claim.encoding;
        const std::string path =
            content.WriteTexture(claim.what, "512", modelwriter::DdsFileHeader(claim.width, claim.height, spec));
        fs::resize_file(path, claim.fileSize); // sparse: the pixels read as zeros

        TextureCache cache;
        warnings.clear();
        const uint64_t before = BytesReadByProcess();
        Write(TexturedTriangle(path), OutputFormat::Glb, "claim.glb", cache);
        const uint64_t read = BytesReadByProcess() - before;
        EXPECT_EQ(cache.BytesRead(), claim.mayRead);
        EXPECT_LT(read, claim.mayRead + 65536) << "the process read no more than that, give or take a listing";
        if (claim.problem) {
            ASSERT_EQ(warnings.size(), 1u);
            EXPECT_NE(warnings[0].find(claim.problem), std::string::npos) << warnings[0];
        } else {
            EXPECT_EQ(warnings, std::vector<std::string>{});
        }
    }
}

TEST_F(UntrustedInputTest, FilesOutsideTheContentFolderAreReadButWarnedOf)
{
    const modelwriter::TemporaryFolder elsewhere;
    modelwriter::WriteFile(elsewhere.Path() + "/secret.mesh", MeshList({Triangle("secret")}));
    modelwriter::WriteFile(elsewhere.Path() + "/secret.512.dds", Pixels(2));
    const std::string up = "..\\..\\..\\" + fs::path(elsewhere.Path()).filename().string() + "\\secret";
    ASSERT_EQ(fs::path(folder.Path()).parent_path(), fs::path(elsewhere.Path()).parent_path())
        << "siblings, so '..' reaches it";
    content.WriteMesh("inside", MeshList({Triangle("inside")}));
    ASSERT_EQ(mkfifo(content.MeshPath("pipe").c_str(), 0600), 0);
    const std::string model = content.WriteModel(
        "main",
        modelwriter::Concat({modelwriter::ReferenceChunk({"inside,pipe," + up}), MeshList({Triangle("main", up)})}));

    const std::unique_ptr<CBrennicModel> loaded = Load(model);
    ASSERT_EQ(loaded->GetMeshCount(), 3) << "the format's behaviour: what is named is read";
    const std::vector<std::string> problems = LoadProblems(*loaded);
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_NE(problems[0].find("pipe.mesh: is a FIFO (named pipe), not a file; skipped"), std::string::npos)
        << problems[0];
    EXPECT_NE(problems[1].find("secret.mesh is outside the content folder " + folder.Path() + "/content/"),
              std::string::npos)
        << problems[1];

    int status = 0;
    const std::string said = Import({"-o", output.Path() + "/out.glb", model}, status);
    EXPECT_EQ(status, 0) << said;
    EXPECT_NE(said.find("warning: texture " + elsewhere.Path() + "/secret.512.dds is outside the content folder"),
              std::string::npos)
        << said;
    Import({"--strict", "-o", output.Path() + "/strict.glb", model}, status);
    EXPECT_EQ(status, 1);
    EXPECT_FALSE(fs::exists(output.Path() + "/strict.glb"));
}

TEST(OutsideContentFolderTest, AContentFolderNotOnDiskIsComparedByNameIgnoringCase)
{
    const std::string root = "C:\\game\\content\\";
    EXPECT_FALSE(OutsideContentFolder("C:\\game\\content\\meshes\\a.mesh", root));
    EXPECT_FALSE(OutsideContentFolder("C:\\game\\content\\meshes\\..\\..\\Content\\a.mesh", root));
    EXPECT_TRUE(OutsideContentFolder("C:\\game\\content\\meshes\\..\\..\\a.mesh", root));
    EXPECT_TRUE(OutsideContentFolder("C:\\game\\contents\\a.mesh", root));
    EXPECT_FALSE(OutsideContentFolder("..\\anything", "")) << "no content folder, nothing outside it";
}

// The referenced files a load says lie outside its content folder.
std::vector<std::string> ReferencedOutside(const std::string& model)
{
    CBrennicModel loaded;
    EXPECT_EQ(loaded.Load(modelwriter::HostPath(model), false), 1) << model;
    std::vector<std::string> outside;
    for (const std::string& problem : LoadProblems(loaded)) {
        const size_t end = problem.find(" is outside the content folder ");
        if (end != std::string::npos)
            outside.push_back(problem.substr(0, end));
    }
    return outside;
}

TEST(OutsideContentFolderTest, AFolderSpeltInAnotherCaseIsOutsideWhenItIsAnotherFolderOnDisk)
{
    // Game/ and game/ are two folders here; Solo/ has no other spelling beside it.
    const modelwriter::TemporaryFolder top;
    const modelwriter::ContentFolder upper(top.Path() + "/Game"), lower(top.Path() + "/game"),
        solo(top.Path() + "/Solo");
    for (const modelwriter::ContentFolder* each : {&upper, &lower, &solo})
        each->WriteMesh("part", MeshList({Triangle("part")}));
    lower.WriteTexture("skin", "512", Pixels(2));
    const std::string up = "..\\..\\..\\";

    const std::string model = upper.WriteModel(
        "main", modelwriter::Concat(
                    {modelwriter::ReferenceChunk({up + "game\\content\\meshes\\part," + up +
                                                  "Game\\content\\meshes\\part," + up + "GAME\\content\\meshes\\part"}),
                     MeshList({Triangle("main", up + "game\\content\\textures\\skin")})}));
    EXPECT_EQ(ReferencedOutside(model), std::vector<std::string>{"referenced file " + lower.MeshPath("part")})
        << "GAME is found as Game, the model's own folder";
    int status = 0;
    const modelwriter::TemporaryFolder output;
    const std::string said = Import({"-o", output.Path() + "/out.glb", model}, status);
    EXPECT_EQ(status, 0) << said;
    EXPECT_NE(said.find("warning: referenced file " + lower.MeshPath("part") + " is outside the content folder " +
                        top.Path() + "/Game/content/"),
              std::string::npos)
        << said;
    EXPECT_NE(said.find("warning: texture " + lower.TexturePath("skin", "512") + " is outside the content folder"),
              std::string::npos)
        << said;

    EXPECT_EQ(
        ReferencedOutside(solo.WriteModel("main", modelwriter::ReferenceChunk({up + "SOLO\\content\\meshes\\part," +
                                                                               up + "solo\\CONTENT\\meshes\\part"}))),
        std::vector<std::string>{})
        << "another spelling of the model's own folder";
    EXPECT_EQ(ReferencedOutside(
                  solo.WriteModel("sibling", modelwriter::ReferenceChunk({up + "game\\content\\meshes\\part"}))),
              std::vector<std::string>{"referenced file " + lower.MeshPath("part")});
}

TEST(OutsideContentFolderTest, DotDotAfterALinkGoesWhereTheSystemTakesIt)
{
    // content/meshes/linked leads to elsewhere/deep: what lies under it is reached through the
    // content folder, but its ".." is elsewhere/, not content/meshes/.
    const modelwriter::TemporaryFolder top;
    const modelwriter::ContentFolder content(top.Path() + "/game");
    modelwriter::WriteFile(top.Path() + "/elsewhere/deep/part.mesh", MeshList({Triangle("deep")}));
    modelwriter::WriteFile(top.Path() + "/elsewhere/part.mesh", MeshList({Triangle("elsewhere")}));
    content.WriteMesh("part", MeshList({Triangle("inside")}));
    ASSERT_EQ(symlink((top.Path() + "/elsewhere/deep").c_str(), (content.Root() + "/content/meshes/linked").c_str()), 0)
        << std::strerror(errno);
    const std::string model =
        content.WriteModel("main", modelwriter::ReferenceChunk({"linked\\part,linked\\..\\part,LINKED\\..\\PART"}));
    const std::string real = fs::canonical(top.Path()).string() + "/elsewhere/part.mesh";
    EXPECT_EQ(ReferencedOutside(model),
              (std::vector<std::string>{"referenced file " + real, "referenced file " + real}))
        << "named as if in content/meshes/, read from elsewhere/, and named there";
}

TEST_F(UntrustedInputTest, ListingNamesWhyAReferenceWasSkippedAsTheWarningsDo)
{
    content.WriteMesh("part", MeshList({Triangle("part")}));
    ASSERT_EQ(mkfifo(content.MeshPath("pipe").c_str(), 0600), 0);
    ASSERT_EQ(symlink("loop.mesh", content.MeshPath("loop").c_str()), 0) << "a link to itself";
    const std::string model = content.WriteModel(
        "main",
        modelwriter::Concat({modelwriter::ReferenceChunk({"part,pipe,loop,gone"}), MeshList({Triangle("main")})}));
    const struct {
        const char* name;
        std::string problem; // in the JSON
        std::string fate;    // in the text and the warnings
    } skipped[] = {
        {"pipe", "is a FIFO (named pipe), not a file", "is a FIFO (named pipe), not a file; skipped"},
        {"loop", std::strerror(ELOOP), std::string(std::strerror(ELOOP)) + "; skipped"},
        {"gone", "no such file", "missing, skipped"},
    };

    int status = 0;
    const std::string text = Import({"--list", model}, status);
    EXPECT_EQ(status, 0) << text;
    const std::string json = Import({"--list", "--json", model}, status);
    EXPECT_EQ(status, 0) << json;
    const nlohmann::json references = nlohmann::json::parse(json).at("models").at(0).at("references");
    const std::string warned = Import({"-o", output.Path() + "/out.glb", model}, status);
    EXPECT_EQ(status, 0) << warned;

    ASSERT_EQ(references.size(), 4u) << references;
    EXPECT_EQ(references[0].at("outcome"), "loaded");
    EXPECT_FALSE(references[0].contains("problem")) << references[0];
    for (size_t i = 0; i < std::size(skipped); ++i) {
        SCOPED_TRACE(skipped[i].name);
        const std::string path = content.MeshPath(skipped[i].name);
        EXPECT_EQ(references[i + 1].at("outcome"), "missing") << "outcome names stay as scripts know them";
        EXPECT_EQ(references[i + 1].value("problem", ""), skipped[i].problem);
        EXPECT_NE(text.find("    " + path + "  (" + skipped[i].fate + ")\n"), std::string::npos) << text;
        EXPECT_NE(warned.find("warning: referenced file " + path), std::string::npos) << warned;
        EXPECT_NE(warned.find(skipped[i].fate), std::string::npos) << warned;
    }
}

TEST_F(UntrustedInputTest, ListingNamesTheLimitThatCutTheReferences)
{
    const modelwriter::Bytes part = MeshList({Triangle("part")});
    const std::string path = content.WriteMesh("part", part);
    const std::string model = content.WriteModel("main", modelwriter::ReferenceChunk({"part,part,part"}));
    const struct {
        const char* what;
        unsigned files;
        uint64_t bytes;
        std::string problem; // how the loader's message begins
    } limits[] = {
        {"files", 2, uint64_t{1} << 20, "more than 2 referenced files"},
        {"bytes", 4096, 2 * part.size(), "referenced files together would pass "},
    };
    for (const auto& limit : limits) {
        SCOPED_TRACE(limit.what);
        CBrennicModel loaded;
        loaded.limits.files = limit.files;
        loaded.limits.bytes = limit.bytes;
        ASSERT_EQ(loaded.Load(modelwriter::HostPath(model), false), 1);
        ASSERT_EQ(loaded.References().size(), 3u);
        ASSERT_EQ(loaded.References()[2].outcome, ReferenceNote::Outcome::SkippedOverBudget);

        const std::string text = ReferencesText(loaded, model);
        EXPECT_NE(text.find("    " + path + "  (" + limit.problem), std::string::npos) << text;
        EXPECT_NE(text.find("; skipped)\n"), std::string::npos) << text;
        const nlohmann::json json = ReferencesJson(loaded);
        EXPECT_EQ(json.at(2).at("outcome"), "over-budget");
        EXPECT_EQ(json.at(2).value("problem", "").rfind(limit.problem, 0), 0u) << json.at(2);
        const std::vector<std::string> problems = LoadProblems(loaded);
        ASSERT_EQ(problems.size(), 1u);
        EXPECT_EQ(problems[0].rfind("referenced file " + path + ": " + limit.problem, 0), 0u) << problems[0];
    }
}

} // namespace
