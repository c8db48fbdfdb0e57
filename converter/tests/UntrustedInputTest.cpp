// What model and texture files may say that the converter must not pass on as it is: names
// with line breaks and control bytes, textures that claim more than they hold or are spelt many
// ways, references and textures outside the content folder, references that are not files.
#include "DdsWriter.h"
#include "ExportTestSupport.h"
#include "Listing.h"
#include "Textures.h"
#include "Writers.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <sys/wait.h>

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
        ExportMesh mesh{
            "triangle",
            {{{0, 0, 0}, {0, 0, 1}, {0, 0}}, {{1, 0, 0}, {0, 0, 1}, {0, 0}}, {{0, 1, 0}, {0, 0, 1}, {0, 0}}},
            {0, 1, 2},
            0};
        scene.meshes.push_back(mesh);
        scene.materials.push_back({"material", 0});
        scene.textures.push_back({path, true});
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
    EXPECT_EQ(maps, 2u) << "the missing texture's .dds and the other's PNG: " << mtl;
    EXPECT_FALSE(HasControlBytes(said)) << said;
    EXPECT_EQ(said.find("\nnewmtl"), std::string::npos) << said;
}

TEST_F(UntrustedInputTest, OneTextureUnderTwentySpellingsIsReadAndDecodedOnceAndStoredOnce)
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

TEST_F(UntrustedInputTest, ALargeOrLyingDdsCostsItsHeaderAndTheBytesItsTopLevelNeeds)
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

TEST_F(UntrustedInputTest, ReferencesAndTexturesOutsideTheContentFolderAreReadButWarnedOf)
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

TEST(OutsideContentFolderTest, ComparesFolderByFolderIgnoringCaseAfterDotDot)
{
    const std::string root = "C:\\game\\content\\";
    EXPECT_FALSE(OutsideContentFolder("C:\\game\\content\\meshes\\a.mesh", root));
    EXPECT_FALSE(OutsideContentFolder("C:\\game\\content\\meshes\\..\\..\\Content\\a.mesh", root));
    EXPECT_TRUE(OutsideContentFolder("C:\\game\\content\\meshes\\..\\..\\a.mesh", root));
    EXPECT_TRUE(OutsideContentFolder("C:\\game\\contents\\a.mesh", root));
    EXPECT_FALSE(OutsideContentFolder("..\\anything", "")) << "no content folder, nothing outside it";
}

} // namespace
