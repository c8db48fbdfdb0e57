// The writers on scenes the plug-in built: every glTF file passes the Khronos validator, and
// what the files hold (counts, facing, texture pixels and references) is read back.
#include "Dds.h"
#include "DdsWriter.h"
#include "ExportTestSupport.h"
#include "SpillFile.h"
#include "TextureLayout.h"
#include "UniqueNames.h"
#include "Writers.h"

#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <utility>

using modelwriter::MeshSpec;
using nlohmann::json;
namespace fs = std::filesystem;

using modelwriter::ReadText;

namespace {

// A .glb read back: its JSON, its BIN chunk, and the accessors' data.
struct Glb {
    json root;
    std::string bin;

    explicit Glb(const std::string& path)
    {
        const std::string bytes = ReadText(path);
        uint32_t jsonLength = 0;
        std::memcpy(&jsonLength, &bytes.at(12), 4);
        root = json::parse(bytes.substr(20, jsonLength));
        if (root.contains("buffers"))
            bin = bytes.substr(28 + jsonLength, root.at("buffers").at(0).at("byteLength").get<size_t>());
    }
    // Every component of an accessor, as float.
    std::vector<float> Read(const json& accessorIndex) const
    {
        const json& accessor = root.at("accessors").at(accessorIndex.get<size_t>());
        const json& view = root.at("bufferViews").at(accessor.at("bufferView").get<size_t>());
        const std::map<std::string, size_t> widths{{"SCALAR", 1}, {"VEC2", 2}, {"VEC3", 3}};
        const size_t count = accessor.at("count").get<size_t>(), width = widths.at(accessor.at("type"));
        const int type = accessor.at("componentType");
        const size_t size = type == 5123 ? 2 : 4, stride = view.value("byteStride", width * size);
        const size_t offset = view.at("byteOffset").get<size_t>() + accessor.value("byteOffset", size_t(0));
        if (count && (offset + (count - 1) * stride + width * size > bin.size() ||
                      accessor.value("byteOffset", size_t(0)) + (count - 1) * stride + width * size >
                          view.at("byteLength").get<size_t>()))
            throw std::runtime_error("an accessor past its view");
        std::vector<float> values(count * width);
        for (size_t i = 0; i < count * width; ++i) {
            uint32_t word = 0; // little-endian, as is the machine
            std::memcpy(&word, bin.data() + offset + stride * (i / width) + size * (i % width), size);
            if (type == 5126)
                std::memcpy(&values[i], &word, 4);
            else
                values[i] = float(word);
        }
        return values;
    }
    const json& Attributes(size_t node) const { return Primitive(node).at("attributes"); }
    const json& Primitive(size_t node) const
    {
        return root.at("meshes").at(root.at("nodes").at(node).at("mesh").get<size_t>()).at("primitives").at(0);
    }
};

class WriterTest : public ExportTest {
protected:
    // Written with the fixture's texture cache.
    std::string Write(const ExportScene& exported, OutputFormat format, const std::string& name,
                      bool copyTextures = false, bool keepDds = false)
    {
        return ExportTest::Write(exported, format, name, textures, copyTextures, keepDds);
    }

    // Runs a Node.js script of ours over the files; its exit status, with its output in `log`.
    static int RunNodeScript(const char* script, const std::vector<std::string>& paths, std::string& log)
    {
        const modelwriter::TemporaryFolder logFolder;
        std::string command = std::string(BRENNIC_NODE) + " " + script;
        for (const std::string& path : paths)
            command += " '" + path + "'";
        const int status = std::system((command + " > " + logFolder.Path() + "/log 2>&1").c_str());
        log = ReadText(logFolder.Path() + "/log");
        return status;
    }

    // The validator's report on failure: it fails on any issue of severity error or warning.
    static void ExpectValid(const std::vector<std::string>& paths)
    {
        ASSERT_TRUE(fs::exists(fs::path(BRENNIC_GLTF_VALIDATOR).parent_path() / "node_modules/gltf-validator"))
            << "the glTF validator is not installed: run scripts/setup.sh";
        std::string log;
        EXPECT_EQ(RunNodeScript(BRENNIC_GLTF_VALIDATOR, paths, log), 0) << log;
    }

    // What three.js's GLTFLoader made of each file, in order; a failure when any did not load
    // or three.js warned about it.
    static std::vector<json> LoadInThree(const std::vector<std::string>& paths)
    {
        EXPECT_TRUE(fs::exists(fs::path(BRENNIC_THREE_LOADER).parent_path() / "node_modules/three"))
            << "three.js is not installed: run scripts/setup.sh";
        std::string log;
        const int status = RunNodeScript(BRENNIC_THREE_LOADER, paths, log);
        EXPECT_EQ(status, 0) << log;
        std::vector<json> loaded;
        std::istringstream lines(log);
        for (std::string line; std::getline(lines, line);)
            loaded.push_back(json::parse(line, nullptr, false));
        EXPECT_EQ(loaded.size(), paths.size()) << log;
        loaded.resize(paths.size());
        return loaded;
    }

    // A texture of known pixels: red and green follow x and y, alpha as given.
    static std::array<uint8_t, 4> Pixel(uint32_t x, uint32_t y, uint8_t alpha)
    {
        return {uint8_t(40 * x), uint8_t(60 * y), 200, alpha};
    }

    // One triangle whose material names the texture at `path`, without the plug-in.
    static ExportScene TexturedTriangle(const std::string& path)
    {
        ExportScene scene;
        ExportMesh mesh;
        mesh.name = "triangle";
        for (int i = 0; i < 3; ++i)
            mesh.vertices.push_back({{float(i == 1), float(i == 2), 0}, {0, 0, 1}, {0, 0}});
        mesh.indices = {0, 1, 2};
        mesh.material = 0;
        scene.meshes.push_back(mesh);
        scene.materials.push_back({"material", 0});
        scene.textures.push_back(LookUpTexture(path));
        return scene;
    }

    TextureCache textures;
};

// A PNG's pixels as RGBA, rows top to bottom.
std::vector<uint8_t> PngPixels(const std::string& bytes, size_t& width, size_t& height)
{
    dds::Image image;
    std::string problem;
    EXPECT_TRUE(dds::DecodePng(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), image, problem))
        << problem;
    width = image.width;
    height = image.height;
    return image.rgba;
}

std::string UnescapeUri(const std::string& uri);

// The copies of a .dds named `stem` in `folder`, sorted: each "<stem>-<16 hex digits>.dds".
std::vector<std::string> CopiesOf(const std::string& folder, const std::string& stem)
{
    static const std::regex hashed("-[0-9a-f]{16}\\.dds");
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(stem, 0) == 0 && name != stem + ".dds") {
            EXPECT_TRUE(std::regex_match(name.substr(stem.size()), hashed)) << name;
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(WriterTest, TheSampleKeepsTheHostSceneInEveryFormat)
{
    ASSERT_EQ(holder.Load(modelwriter::HostPath(BRENNIC_SAMPLE_MODEL), false), 1);
    ASSERT_EQ(holder.BuildScene(&scene), 1);
    const ExportScene exported = CollectScene(scene);
    const std::string glb = Write(exported, OutputFormat::Glb, "sample.glb");
    const std::string gltf = Write(exported, OutputFormat::Gltf, "sample.gltf");
    const std::string obj = Write(exported, OutputFormat::Obj, "sample.obj");
    EXPECT_EQ(warnings, std::vector<std::string>{});
    ExpectValid({glb, gltf});

    const Glb read(glb);
    const std::string gltfBin = ReadText(output.Path() + "/sample.bin");
    EXPECT_EQ(read.bin.substr(0, gltfBin.size()), gltfBin) << "the .glb's buffer is the .gltf's, then the images";
    ASSERT_EQ(read.root.at("nodes").size(), scene.Nodes().size());
    Assimp::Importer importer;
    const aiScene* objScene = importer.ReadFile(obj, aiProcess_ValidateDataStructure);
    ASSERT_NE(objScene, nullptr) << importer.GetErrorString();
    ASSERT_EQ(objScene->mNumMeshes, scene.Nodes().size());
    for (size_t n = 0; n < scene.Nodes().size(); ++n) {
        const Mesh& mesh = scene.Nodes()[n]->GetTriObject()->GetMesh();
        EXPECT_EQ(read.root.at("nodes").at(n).at("name"), scene.Nodes()[n]->GetName());
        EXPECT_EQ(read.Read(read.Primitive(n).at("indices")).size(), 3 * size_t(mesh.numFaces));
        const std::vector<float> positions = read.Read(read.Attributes(n).at("POSITION"));
        std::set<std::array<float, 3>> distinct;
        for (size_t i = 0; i < positions.size(); i += 3)
            distinct.insert({positions[i], positions[i + 1], positions[i + 2]});
        EXPECT_EQ(distinct.size(), size_t(mesh.numVerts)) << "split vertices share the host's welded positions";
        const aiMesh& objMesh = *objScene->mMeshes[n];
        EXPECT_EQ(objMesh.mNumFaces, unsigned(mesh.numFaces));
        const json& bounds = read.root.at("accessors").at(read.Attributes(n).at("POSITION").get<size_t>());
        for (unsigned axis = 0; axis < 3; ++axis) {
            const auto [low, high] =
                std::minmax_element(objMesh.mVertices, objMesh.mVertices + objMesh.mNumVertices,
                                    [axis](const aiVector3D& a, const aiVector3D& b) { return a[axis] < b[axis]; });
            EXPECT_NEAR((*low)[axis], bounds.at("min").at(axis).get<float>(), 1e-6f)
                << "the OBJ's faces use their own mesh's vertices";
            EXPECT_NEAR((*high)[axis], bounds.at("max").at(axis).get<float>(), 1e-6f);
        }
    }
}

TEST_F(WriterTest, AnUpwardFileTriangleKeepsItsOrientationInBothFormats)
{
    MeshSpec up = Triangle("props\\up");
    const float positions[3][3] = {{0, 0, 0}, {0, 0, 1}, {1, 0, 0}}; // counter-clockwise seen from +y
    for (size_t i = 0; i < 3; ++i) {
        std::copy(positions[i], positions[i] + 3, up.staticVertices[i].position);
        up.staticVertices[i].texCoord[1] = 0.25f * float(i);
    }
    const ExportScene exported = Build({up});
    const Glb read(Write(exported, OutputFormat::Glb, "up.glb"));
    const std::vector<float> p = read.Read(read.Attributes(0).at("POSITION")),
                             uv = read.Read(read.Attributes(0).at("TEXCOORD_0"));
    const std::vector<float> index = read.Read(read.Primitive(0).at("indices"));
    ASSERT_EQ(index.size(), 3u);
    const auto corner = [&](size_t k) {
        return aiVector3D(p[3 * size_t(index[k])], p[3 * size_t(index[k]) + 1], p[3 * size_t(index[k]) + 2]);
    };
    aiVector3D facing = (corner(1) - corner(0)) ^ (corner(2) - corner(0));
    EXPECT_TRUE(facing.Normalize() == aiVector3D(0, 1, 0)) << "counter-clockwise seen from +Y";
    EXPECT_EQ(read.Read(read.Attributes(0).at("NORMAL")), (std::vector<float>{0, 1, 0, 0, 1, 0, 0, 1, 0}));

    Assimp::Importer importer;
    const aiScene* obj = importer.ReadFile(Write(exported, OutputFormat::Obj, "up.obj"), 0);
    ASSERT_TRUE(obj && obj->mNumMeshes == 1 && obj->mMeshes[0]->mNumFaces == 1);
    const aiMesh& mesh = *obj->mMeshes[0];
    const unsigned* face = mesh.mFaces[0].mIndices;
    facing = (mesh.mVertices[face[1]] - mesh.mVertices[face[0]]) ^ (mesh.mVertices[face[2]] - mesh.mVertices[face[0]]);
    EXPECT_GT(facing.y, 0.0f);
    for (unsigned k = 0; k < 3; ++k) {
        EXPECT_NEAR(mesh.mNormals[face[k]].y, 1.0f, 1e-6);
        EXPECT_NEAR(mesh.mTextureCoords[0][face[k]].y, 1.0f - uv[2 * size_t(index[k]) + 1], 1e-6);
    }
}

// Alpha cases by name: every alpha 255, only 0 and 255, one value in between.
const std::map<std::string, std::function<uint8_t(uint32_t, uint32_t)>> alphas{
    {"opaque", [](uint32_t, uint32_t) { return uint8_t(255); }},
    {"cutout", [](uint32_t x, uint32_t) { return uint8_t(x % 2 ? 0 : 255); }},
    {"blended", [](uint32_t x, uint32_t y) { return uint8_t(x == 3 && y == 1 ? 254 : 255); }}};

class TextureTest : public WriterTest {
protected:
    // One mesh per alpha case, each with a 5 x 3 texture of its own, then `more`.
    ExportScene BuildAlphaCases(std::vector<MeshSpec> more = {})
    {
        std::vector<MeshSpec> meshes;
        for (const auto& [name, alpha] : alphas) {
            const auto& of = alpha;
            content.WriteTexture(name, "512",
                                 modelwriter::Dds(5, 3, [&](uint32_t x, uint32_t y) { return Pixel(x, y, of(x, y)); }));
            meshes.push_back(Triangle(name, name));
        }
        meshes.insert(meshes.end(), more.begin(), more.end());
        return Build(meshes);
    }

    static void ExpectPixels(const std::string& png, const std::string& name)
    {
        size_t width = 0, height = 0;
        const std::vector<uint8_t> rgba = PngPixels(png, width, height);
        ASSERT_EQ(width, 5u);
        ASSERT_EQ(height, 3u);
        for (uint32_t y = 0; y < 3; ++y)
            for (uint32_t x = 0; x < 5; ++x) {
                const std::array<uint8_t, 4> expected = Pixel(x, y, alphas.at(name)(x, y));
                EXPECT_TRUE(std::equal(expected.begin(), expected.end(), &rgba[4 * (5 * y + x)]))
                    << name << " pixel " << x << ", " << y;
            }
    }
};

TEST_F(TextureTest, AGlbCopiedAloneCarriesEachTextureAsItsMaterialUsesIt)
{
    const std::string written = Write(BuildAlphaCases(), OutputFormat::Glb, "textured.glb");
    EXPECT_EQ(warnings, std::vector<std::string>{});
    EXPECT_FALSE(fs::exists(output.Path() + "/textured_textures")) << "nothing beside a .glb";
    const modelwriter::TemporaryFolder alone;
    const std::string glb = alone.Path() + "/textured.glb";
    fs::copy_file(written, glb);
    ExpectValid({glb});

    const Glb read(glb);
    EXPECT_FALSE(read.root.contains("extensionsUsed"));
    const std::map<std::string, std::string> expectedMode{
        {"opaque", "OPAQUE"}, {"cutout", "MASK"}, {"blended", "BLEND"}};
    for (const json& material : read.root.at("materials")) {
        const std::string name = material.at("name");
        EXPECT_EQ(material.at("alphaMode"), expectedMode.at(name)) << name;
        const json& texture =
            read.root.at("textures")
                .at(material.at("pbrMetallicRoughness").at("baseColorTexture").at("index").get<size_t>());
        const json& image = read.root.at("images").at(texture.at("source").get<size_t>());
        ASSERT_EQ(image.at("mimeType"), "image/png");
        const json& view = read.root.at("bufferViews").at(image.at("bufferView").get<size_t>());
        ExpectPixels(read.bin.substr(view.at("byteOffset"), view.at("byteLength")), name);
    }
}

// Written as brennic-import writes a large model while the plug-in builds it: after Expect,
// each mesh as it comes.
std::string WriteStreamed(const ExportScene& exported, OutputFormat format, const std::string& path,
                          size_t expectedMeshes, TextureCache& cache, std::vector<std::string>& warnings)
{
    OutputFiles files;
    WriteOptions options{path, false, false, &cache};
    options.streamGlb = true;
    const std::unique_ptr<SceneWriter> writer = FormatInfo(format).open(options, files);
    writer->Expect(expectedMeshes, 0);
    WriteScene(*writer, exported, warnings);
    files.Commit();
    return path;
}

TEST_F(TextureTest, MeshesWrittenAsTheyComeMakeTheFilesWrittenWhole)
{
    std::vector<MeshSpec> plain;
    for (int m = 0; m < 24; ++m) // a JSON larger than the least room a .glb leaves it
        plain.push_back(Triangle("plain" + std::to_string(m), "plain"));
    ExportScene exported = BuildAlphaCases(plain);
    ExportMesh& broken = exported.meshes[4]; // repaired on the way out
    broken.vertices[1].position[0] = std::nanf("");
    broken.facts = {};

    const std::string wholeGlb = Write(exported, OutputFormat::Glb, "whole.glb");
    const std::vector<std::string> wholeWarnings = std::exchange(warnings, {});
    ASSERT_EQ(wholeWarnings.size(), 2u) << "the missing texture, the repair";
    // With room for the JSON, and then with too little: that file is written again, exactly sized.
    for (const size_t expected : {exported.meshes.size(), size_t(0)}) {
        SCOPED_TRACE(expected);
        const std::string path = output.Path() + "/streamed" + std::to_string(expected) + ".glb";
        WriteStreamed(exported, OutputFormat::Glb, path, expected, textures, warnings);
        EXPECT_EQ(std::exchange(warnings, {}), wholeWarnings);
        ExpectValid({path});
        const Glb streamed(path), whole(wholeGlb);
        EXPECT_EQ(streamed.root, whole.root);
        EXPECT_EQ(streamed.bin, whole.bin);
        const std::string bytes = ReadText(path);
        uint32_t jsonChunk = 0;
        std::memcpy(&jsonChunk, &bytes.at(12), 4);
        if (expected)
            EXPECT_EQ((28 + jsonChunk) % 4096, 0u) << "the buffer starts on a page, the JSON padded with spaces";
        else
            EXPECT_EQ(bytes, ReadText(wholeGlb));
    }

    // The same name in two folders, so that the files name the same textures.
    const std::string wholeGltf = Write(exported, OutputFormat::Gltf, "whole/model.gltf");
    warnings.clear();
    const std::string streamedGltf = output.Path() + "/streamed/model.gltf";
    WriteStreamed(exported, OutputFormat::Gltf, streamedGltf, 1, textures, warnings);
    EXPECT_EQ(warnings, wholeWarnings);
    EXPECT_EQ(ReadText(streamedGltf), ReadText(wholeGltf));
    EXPECT_EQ(ReadText(output.Path() + "/streamed/model.bin"), ReadText(output.Path() + "/whole/model.bin"));
}

TEST_F(TextureTest, PngsBesideAGltfOrAnObjServeTheirMaterialsAsTheirAlphaSays)
{
    const ExportScene exported = BuildAlphaCases();
    const std::string gltf = Write(exported, OutputFormat::Gltf, "textured.gltf");
    const std::string obj = Write(exported, OutputFormat::Obj, "textured.obj");
    EXPECT_EQ(warnings, std::vector<std::string>{});
    ExpectValid({gltf});
    const json root = json::parse(ReadText(gltf));
    for (const json& texture : root.at("textures")) {
        const std::string uri = root.at("images").at(texture.at("source").get<size_t>()).at("uri");
        ExpectPixels(ReadText(output.Path() + "/" + uri), fs::path(uri).stem().stem().string());
    }

    Assimp::Importer importer;
    const aiScene* read = importer.ReadFile(obj, aiProcess_ValidateDataStructure);
    ASSERT_NE(read, nullptr) << importer.GetErrorString();
    ASSERT_EQ(read->mNumMeshes, 3u);
    for (unsigned m = 0; m < read->mNumMeshes; ++m) {
        const aiMaterial& material = *read->mMaterials[read->mMeshes[m]->mMaterialIndex];
        const std::string name = material.GetName().C_Str();
        SCOPED_TRACE(name);
        float opacity = 0;
        ASSERT_EQ(material.Get(AI_MATKEY_OPACITY, opacity), aiReturn_SUCCESS);
        EXPECT_EQ(opacity, 1.0f) << "the map's alpha alone makes it see-through";
        aiString diffuse, mask;
        ASSERT_EQ(material.GetTexture(aiTextureType_DIFFUSE, 0, &diffuse), aiReturn_SUCCESS);
        EXPECT_EQ(std::string(diffuse.C_Str()), "textured_textures/" + name + ".512.png");
        ExpectPixels(ReadText(output.Path() + "/" + diffuse.C_Str()), name);
        const bool hasMask = material.GetTexture(aiTextureType_OPACITY, 0, &mask) == aiReturn_SUCCESS;
        EXPECT_EQ(hasMask, name != "opaque");
        if (hasMask) {
            EXPECT_EQ(std::string(mask.C_Str()), std::string(diffuse.C_Str()));
        }
    }
}

TEST_F(TextureTest, KeepDdsOffersTheDdsFromAGlbOrAGltf)
{
    const ExportScene exported = BuildAlphaCases();
    const std::string glbPath = Write(exported, OutputFormat::Glb, "kept.glb", false, true);
    const std::string gltfPath = Write(exported, OutputFormat::Gltf, "kept.gltf", true, true);
    ExpectValid({glbPath, gltfPath});
    const Glb glb(glbPath);
    const json gltf = json::parse(ReadText(gltfPath));
    for (const json& material : glb.root.at("materials")) {
        const std::string name = material.at("name");
        const std::string dds = ReadText(content.TexturePath(name, "512"));
        const size_t index = material.at("pbrMetallicRoughness").at("baseColorTexture").at("index");
        const json& embedded = glb.root.at("images").at(
            glb.root.at("textures").at(index).at("extensions").at("MSFT_texture_dds").at("source").get<size_t>());
        EXPECT_EQ(embedded.at("mimeType"), "image/vnd-ms.dds");
        const json& view = glb.root.at("bufferViews").at(embedded.at("bufferView").get<size_t>());
        EXPECT_EQ(glb.bin.substr(view.at("byteOffset"), view.at("byteLength")), dds) << name;
        const json& referred = gltf.at("images").at(
            gltf.at("textures").at(index).at("extensions").at("MSFT_texture_dds").at("source").get<size_t>());
        EXPECT_EQ(CopiesOf(output.Path(), name + ".512"), std::vector<std::string>{referred.at("uri")});
        EXPECT_EQ(ReadText(output.Path() + "/" + referred.at("uri").get<std::string>()), dds);
    }
    EXPECT_EQ(glb.root.at("extensionsUsed"), json::array({"MSFT_texture_dds"}));
}

TEST_F(TextureTest, ThreeJsLoadsDefaultGlbsWhetherOrNotATextureIsMissing)
{
    ExportScene lost = BuildAlphaCases({Triangle("props\\bare", "props\\absent")});
    const std::string lostGlb = Write(lost, OutputFormat::Glb, "lost.glb");
    ASSERT_EQ(lost.materials.back().name, "props\\bare");
    ExportScene textured = lost;
    textured.meshes.pop_back();
    textured.materials.pop_back();
    textured.textures.pop_back();
    const std::string texturedGlb = Write(textured, OutputFormat::Glb, "textured.glb");
    const std::vector<json> loaded = LoadInThree({texturedGlb, lostGlb});

    for (const json& file : loaded) {
        SCOPED_TRACE(file.dump());
        ASSERT_TRUE(file.is_object() && file.contains("materials"));
        EXPECT_EQ(file.at("meshes").size(), file == loaded[0] ? 3u : 4u);
        for (const json& material : file.at("materials")) {
            const std::string name = material.at("name");
            if (name == "props\\bare") {
                EXPECT_TRUE(material.at("map").is_null());
                EXPECT_EQ(material.at("userData").at("missingTexture").at("name"), "props/absent");
                continue;
            }
            EXPECT_EQ(material.at("map"), (json{{"width", 5}, {"height", 3}})) << "the PNG's own size";
            EXPECT_EQ(material.at("transparent"), name == "blended");
            EXPECT_EQ(material.at("alphaTest"), name == "cutout" ? 0.5 : 0.0);
        }
    }
}

TEST_F(WriterTest, ATextureIsLoadedOnceHoweverManyOutputsOrPathSpellingsAskForIt)
{
    const std::string path = content.WriteTexture(
        "shared", "512", modelwriter::Dds(2, 2, [](uint32_t x, uint32_t y) { return Pixel(x, y, 255); }));
    const std::string otherSpelling = fs::path(path).parent_path().string() + "/../textures/./shared.512.dds";
    Write(TexturedTriangle(path), OutputFormat::Glb, "a.glb", true);
    Write(TexturedTriangle(otherSpelling), OutputFormat::Gltf, "b.gltf", true, true);
    Write(TexturedTriangle(path), OutputFormat::Obj, "c.obj");
    EXPECT_EQ(warnings, std::vector<std::string>{});
    EXPECT_EQ(textures.Reads(), 1u);
    EXPECT_EQ(textures.Decodes(), 1u);
    EXPECT_EQ(CopiesOf(output.Path(), "shared.512").size(), 1u) << "one file, one copy";
}

TEST_F(WriterTest, CopiedTexturesOfOneNameAreNamedByTheirBytesWhateverTheOrderOrProcess)
{
    const auto texture = [](uint8_t red) {
        return modelwriter::Dds(1, 1, [red](uint32_t, uint32_t) { return std::array<uint8_t, 4>{red, 0, 0, 255}; });
    };
    const modelwriter::TemporaryFolder other, same;
    const std::string first = content.WriteTexture("crate", "512", texture(10));
    const std::string second = modelwriter::ContentFolder(other.Path()).WriteTexture("crate", "512", texture(20));
    const std::string identical = modelwriter::ContentFolder(same.Path()).WriteTexture("crate", "512", texture(10));
    Write(TexturedTriangle(first), OutputFormat::Obj, "first.obj", true);
    Write(TexturedTriangle(second), OutputFormat::Gltf, "second.gltf", true, true);
    Write(TexturedTriangle(identical), OutputFormat::Obj, "third.obj", true);

    const std::vector<std::string> copies = CopiesOf(output.Path(), "crate.512");
    ASSERT_EQ(copies.size(), 2u) << "the same bytes share a copy, different bytes never do";
    const json gltf = json::parse(ReadText(output.Path() + "/second.gltf"));
    const std::string secondCopy = gltf.at("images").at(1).at("uri");
    EXPECT_EQ(ReadText(output.Path() + "/" + secondCopy), ReadText(second));
    const std::string firstCopy = copies[0] == secondCopy ? copies[1] : copies[0];
    EXPECT_EQ(ReadText(output.Path() + "/" + firstCopy), ReadText(first)) << "not overwritten by the second";

    // Another worker process, with its own cache, meets them in another order and names each
    // the same, so batches write the same files on any number of workers.
    TextureCache otherWorker;
    const modelwriter::TemporaryFolder elsewhere;
    const std::string reversed[] = {second, identical, first};
    for (size_t i = 0; i < std::size(reversed); ++i) {
        OutputFiles files;
        const WriteOptions options{elsewhere.Path() + "/" + std::to_string(i) + ".obj", true, false, &otherWorker};
        WriteScene(*OpenObj(options, files), TexturedTriangle(reversed[i]), warnings);
        files.Commit();
    }
    ASSERT_EQ(CopiesOf(elsewhere.Path(), "crate.512"), copies);
    for (const std::string& copy : copies)
        EXPECT_EQ(ReadText(elsewhere.Path() + "/" + copy), ReadText(output.Path() + "/" + copy)) << copy;
    EXPECT_EQ(warnings, std::vector<std::string>{});
}

// Pixels no PNG compresses much: a multiply-xorshift of the position and a seed.
modelwriter::Bytes NoiseDds(uint32_t side, uint32_t seed)
{
    return modelwriter::Dds(side, side, [seed](uint32_t x, uint32_t y) {
        uint64_t bits = (uint64_t{y} << 32 | x) * 0x9E3779B97F4A7C15 + seed;
        bits ^= bits >> 29;
        bits *= 0xBF58476D1CE4E5B9;
        bits ^= bits >> 32;
        return std::array<uint8_t, 4>{uint8_t(bits), uint8_t(bits >> 8), uint8_t(bits >> 16), uint8_t(bits >> 24)};
    });
}

TEST_F(WriterTest, PngsAreNotHeldPastTheirWritingSoMemoryDoesNotGrowWithTheTextures)
{
    constexpr uint32_t count = 24, side = 16;
    std::vector<MeshSpec> meshes;
    for (uint32_t i = 0; i < count; ++i) {
        const std::string name = "props\\t" + std::to_string(i);
        content.WriteTexture(name, "512", NoiseDds(side, i));
        meshes.push_back(Triangle("m" + std::to_string(i), name));
    }
    const ExportScene exported = Build(meshes);
    const uint64_t fileSize = fs::file_size(content.TexturePath("props\\t0", "512"));
    // Room for a few of them: the rest are dropped, and made again when wanted.
    const uint64_t limit = 12 * fileSize;
    TextureCache small(limit);
    const std::string gltf = ExportTest::Write(exported, OutputFormat::Gltf, "many.gltf", small, true, true);
    const std::string obj = ExportTest::Write(exported, OutputFormat::Obj, "many.obj", small);
    const std::string glb = ExportTest::Write(exported, OutputFormat::Glb, "many.glb", small, false, true);
    EXPECT_EQ(warnings, std::vector<std::string>{});
    // What the cache keeps, and one texture's file and PNG in hand (a PNG of noise is about as
    // large as its pixels, which are about the file).
    EXPECT_LE(small.PeakBytesHeld(), limit + 3 * fileSize) << "of " << count << " textures";
    EXPECT_LE(small.BytesHeld(), limit) << "once written, only what the cache keeps";
    EXPECT_GT(small.Decodes(), size_t(count)) << "some were dropped, and made again for the next output";
    ExpectValid({gltf, glb});

    // The .glb carries the very PNGs the .gltf has beside it, and each .dds as it lies.
    const Glb read(glb);
    const json separate = json::parse(ReadText(gltf));
    ASSERT_EQ(read.root.at("textures").size(), size_t(count));
    for (size_t t = 0; t < count; ++t) {
        SCOPED_TRACE(t);
        const json& texture = read.root.at("textures").at(t);
        const auto view = [&](size_t image) {
            const json& entry =
                read.root.at("bufferViews").at(read.root.at("images").at(image).at("bufferView").get<size_t>());
            return read.bin.substr(entry.at("byteOffset"), entry.at("byteLength"));
        };
        const std::string pngUri =
            separate.at("images").at(separate.at("textures").at(t).at("source").get<size_t>()).at("uri");
        EXPECT_EQ(view(texture.at("source")), ReadText(output.Path() + "/" + UnescapeUri(pngUri)));
        EXPECT_EQ(view(texture.at("extensions").at("MSFT_texture_dds").at("source")),
                  ReadText(content.TexturePath("props\\t" + std::to_string(t), "512")));
    }
}

TEST_F(WriterTest, ATextureTooLargeForTheMemoryIsLeftOutWithAWarning)
{
    content.WriteTexture("props\\huge", "512", NoiseDds(64, 1));
    content.WriteTexture("props\\fine", "512", NoiseDds(2, 2));
    textures.LimitDecodeAllocationsForTests(8 << 10); // the huge one's pixels take 16 KiB
    const ExportScene exported =
        Build({Triangle("props\\big", "props\\huge"), Triangle("props\\small", "props\\fine")});
    const std::string glb = Write(exported, OutputFormat::Glb, "short.glb");
    const std::string obj = Write(exported, OutputFormat::Obj, "short.obj", true);
    ExpectValid({glb});

    const std::string problem = "cannot be decoded: there is not enough memory to decode it: 64 x 64 pixels";
    ASSERT_EQ(warnings.size(), 2u) << "one per output";
    for (const std::string& warning : warnings)
        EXPECT_EQ(warning, "texture " + content.TexturePath("props\\huge", "512") + " " + problem +
                               "; its material has no texture");
    const Glb read(glb);
    const json& materials = read.root.at("materials");
    EXPECT_EQ(materials.at(0).at("extras").at("missingTexture").at("problem"), problem);
    EXPECT_FALSE(materials.at(0).at("pbrMetallicRoughness").contains("baseColorTexture"));
    EXPECT_TRUE(materials.at(1).at("pbrMetallicRoughness").contains("baseColorTexture"));
    const std::string mtl = ReadText(output.Path() + "/short.mtl");
    EXPECT_NE(mtl.find("# no texture: props/huge " + problem), std::string::npos) << mtl;
    EXPECT_NE(mtl.find("map_Kd short_textures/fine.512.png"), std::string::npos) << mtl;
    EXPECT_EQ(CopiesOf(output.Path(), "huge.512").size(), 1u) << "a copy needs no decode";
}

// The open descriptors of this process.
size_t OpenDescriptors()
{
    return size_t(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

TEST(SpillFileTest, SpansComeBackAsWrittenWithoutLitterInEitherMode)
{
    std::string large(3 << 20, '\0');
    for (size_t i = 0; i < large.size(); ++i)
        large[i] = char(i * 7 + i / 4096);
    const std::string small = "a PNG, say", other = "another";
    const size_t descriptors = OpenDescriptors();
    for (const bool unnamed : {true, false}) {
        SCOPED_TRACE(unnamed ? "unnamed" : "named");
        const modelwriter::TemporaryFolder folder;
        const std::string glb = folder.Path() + "/not yet made/out.glb";
        {
            SpillFile spill(glb, unnamed);
            const SpillSpan first = spill.Append(small.data(), small.size());
            if (unnamed) {
                EXPECT_EQ(OpenDescriptors(), descriptors) << "a few bytes wait in memory";
            }
            const SpillSpan second = spill.Append(large.data(), large.size() - 3); // past a megabyte, unevenly
            const SpillSpan third = spill.Append(other.data(), other.size());
            EXPECT_EQ(spill.Size(), small.size() + large.size() - 3 + other.size());
            EXPECT_TRUE(fs::is_empty(folder.Path())) << "the spill file has no name, not even while it is used";
            OutputFiles files;
            OutputFile& out = files.Create(glb);
            spill.CopyTo(third, out);
            spill.CopyTo(second, out);
            spill.CopyTo(first, out);
            out.Close();
            files.Commit();
        }
        EXPECT_EQ(ReadText(glb), other + large.substr(0, large.size() - 3) + small);
        EXPECT_EQ(std::distance(fs::recursive_directory_iterator(folder.Path()), fs::recursive_directory_iterator()), 2)
            << "the output and its folder";
        EXPECT_EQ(OpenDescriptors(), descriptors);
    }
}

TEST_F(WriterTest, ACubeMapGivesItsFirstFaceWithAWarning)
{
    modelwriter::RgbaImage face{2, 2, modelwriter::Bytes(16, 0)};
    modelwriter::DdsSpec cube;
    cube.cubeMap = true;
    const std::string cubePath = content.WriteTexture("sky", "512", modelwriter::WriteDds(face, cube));

    const Glb sky(Write(TexturedTriangle(cubePath), OutputFormat::Glb, "sky.glb"));
    EXPECT_TRUE(sky.root.at("textures").at(0).contains("source"));
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("sky.512.dds: a cube map"), std::string::npos) << warnings[0];
}

TEST_F(WriterTest, ATextureFileOfAnAbsurdSizeIsRefusedUnread)
{
    const std::string hugePath = content.TexturePath("huge", "512");
    modelwriter::WriteFile(hugePath, {});
    fs::resize_file(hugePath, TextureCache::maxFileSize + 1); // sparse: nothing is written

    Write(TexturedTriangle(hugePath), OutputFormat::Glb, "huge.glb");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("huge.512.dds is too large for a texture (2048 MiB"), std::string::npos) << warnings[0];
    EXPECT_EQ(textures.Reads(), 0u) << "not read";
}

TEST(UniqueNamesTest, AMadeNameNeverMeetsANameTakenAsItIs)
{
    UniqueNames names;
    ASSERT_TRUE(names.Take("crate_3"));
    EXPECT_EQ(names.Make("crate"), "crate");
    EXPECT_EQ(names.Make("crate"), "crate_2");
    EXPECT_EQ(names.Make("crate"), "crate_4");
    EXPECT_EQ(names.Make("crate", ".png"), "crate.png");
    EXPECT_FALSE(names.Take("crate_2"));
}

TEST(UniqueNamesTest, EqualNamesCostAProbeOrTwoEach)
{
    UniqueNames many;
    constexpr size_t count = 40960;
    for (size_t i = 0; i < count; ++i)
        many.Make("mesh");
    EXPECT_TRUE(many.IsTaken("mesh_40960"));
    EXPECT_LE(many.Probes(), 2 * count);
}

TEST_F(WriterTest, AMeshOfMoreVerticesThan16BitsCanCountGetsValid32BitIndices)
{
    ExportScene large = TexturedTriangle("none.dds");
    large.textures.clear();
    large.materials[0].texture = -1;
    ExportMesh& mesh = large.meshes[0];
    mesh.vertices.clear();
    mesh.indices.clear();
    constexpr uint32_t strip = 35000; // two rows of it: 70,000 vertices
    for (uint32_t i = 0; i < 2 * strip; ++i)
        mesh.vertices.push_back({{float(i % strip), float(i / strip), 0}, {0, 0, 1}, {0, 0}});
    for (uint32_t i = 0; i + 1 < strip; ++i)
        mesh.indices.insert(mesh.indices.end(), {i, i + 1, i + strip, i + 1, i + strip + 1, i + strip});
    const std::string glb = Write(large, OutputFormat::Glb, "large.glb");
    ExpectValid({glb});
    const Glb read(glb);
    const json& indices = read.root.at("accessors").at(read.Primitive(0).at("indices").get<size_t>());
    EXPECT_EQ(indices.at("componentType"), 5125);
    const std::vector<float> values = read.Read(read.Primitive(0).at("indices"));
    EXPECT_TRUE(std::equal(values.begin(), values.end(), mesh.indices.begin(), mesh.indices.end()));
}

TEST_F(WriterTest, RepairedMeshesComeOutInOrderWithTheirBounds)
{
    // Meshes of different sizes, some past 16-bit indices, each with one vertex that is not a
    // finite number.
    ExportScene many = TexturedTriangle("none.dds");
    many.textures.clear();
    many.materials[0].texture = -1;
    const ExportMesh triangle = many.meshes[0];
    many.meshes.clear();
    for (uint32_t m = 0; m < 6; ++m) {
        ExportMesh mesh = triangle;
        mesh.name = "mesh" + std::to_string(m);
        mesh.vertices.clear();
        const uint32_t count = m % 2 ? 60000 : 9000 + m;
        for (uint32_t i = 0; i < count; ++i)
            mesh.vertices.push_back({{float(m), float(i), -float(i % 7)}, {0, 0, 1}, {0.5f, 0.25f}});
        mesh.vertices[m].position[2] = std::nanf("");
        mesh.indices = {0, 1, 2};
        many.meshes.push_back(mesh);
    }
    const Glb read(Write(many, OutputFormat::Glb, "many.glb"));
    ASSERT_EQ(warnings.size(), many.meshes.size());
    for (size_t m = 0; m < many.meshes.size(); ++m) {
        const std::vector<ExportVertex>& vertices = many.meshes[m].vertices;
        EXPECT_EQ(warnings[m].rfind("mesh" + std::to_string(m) + ": 1 vertex", 0), 0u) << warnings[m];
        const std::vector<float> positions = read.Read(read.Attributes(m).at("POSITION"));
        ASSERT_EQ(positions.size(), 3 * vertices.size());
        for (size_t v = 0; v < vertices.size(); v += 997)
            EXPECT_EQ(positions[3 * v + 1], vertices[v].position[1]) << "mesh " << m << ", vertex " << v;
        EXPECT_EQ(positions[3 * m + 2], 0.0f) << "the vertex that was not a number";
        const json& accessor = read.root.at("accessors").at(read.Attributes(m).at("POSITION").get<size_t>());
        EXPECT_EQ(accessor.at("min"), (json{float(m), 0.0f, -6.0f}));
        EXPECT_EQ(accessor.at("max"), (json{float(m), float(vertices.size() - 1), 0.0f}));
    }
}

TEST_F(WriterTest, ASplitCubeHasTheHostsSmoothNormalsUnlessTheGamesAreAsked)
{
    const MeshSpec cube = modelwriter::SplitCube("props\\cube", "cube");
    const std::string model =
        content.WriteModel("props\\cube", modelwriter::MeshListChunk(std::vector<MeshSpec>{cube}));
    // With the host's normals, one a position, the sides' corners that also share a texture
    // coordinate are one vertex; with the game's, each side's corners have their own normal.
    std::set<std::array<float, 5>> positionAndTexCoord;
    for (const modelwriter::StaticVertex& v : cube.staticVertices)
        positionAndTexCoord.insert({v.position[0], v.position[1], v.position[2], v.texCoord[0], v.texCoord[1]});
    ASSERT_LT(positionAndTexCoord.size(), cube.staticVertices.size())
        << "some sides share a corner's texture coordinate";
    for (const bool game : {false, true}) {
        SCOPED_TRACE(game ? "--normals game" : "default");
        const std::string glb = output.Path() + (game ? "/game.glb" : "/host.glb");
        const std::string command =
            std::string(BRENNIC_IMPORT) + " -q -o '" + glb + "' '" + model + "'" + (game ? " --normals game" : "");
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        const Glb read(glb);
        const std::vector<float> p = read.Read(read.Attributes(0).at("POSITION")),
                                 n = read.Read(read.Attributes(0).at("NORMAL")),
                                 index = read.Read(read.Primitive(0).at("indices"));
        ASSERT_EQ(p.size(), 3 * (game ? cube.staticVertices.size() : positionAndTexCoord.size()))
            << "corners alike in position, normal and texture coordinate are one vertex";
        ASSERT_EQ(index.size(), 3 * 12u);
        const auto vector = [](const std::vector<float>& values, size_t i) {
            return aiVector3D(values[3 * i], values[3 * i + 1], values[3 * i + 2]);
        };
        std::map<std::array<float, 3>, std::set<std::array<float, 3>>> normalsAt; // by position
        for (size_t t = 0; t < index.size(); t += 3) {
            const size_t a = size_t(index[t]), b = size_t(index[t + 1]), c = size_t(index[t + 2]);
            aiVector3D facing = (vector(p, b) - vector(p, a)) ^ (vector(p, c) - vector(p, a));
            facing.Normalize();
            for (const size_t corner : {a, b, c}) {
                const float along = vector(n, corner) * facing;
                if (game)
                    EXPECT_NEAR(along, 1.0f, 1e-4f) << "triangle " << t / 3 << ": its side's own normal";
                else
                    EXPECT_LT(along, 0.9f) << "triangle " << t / 3 << ": smoothed over the corner's sides";
                normalsAt[{p[3 * corner], p[3 * corner + 1], p[3 * corner + 2]}].insert(
                    {n[3 * corner], n[3 * corner + 1], n[3 * corner + 2]});
            }
        }
        ASSERT_EQ(normalsAt.size(), 8u);
        for (const auto& [position, normals] : normalsAt)
            EXPECT_EQ(normals.size(), game ? 3u : 1u) << "the normals at a corner of the cube";
    }
}

TEST_F(WriterTest, ObjMaterialsStayApartWhateverTheirNames)
{
    // Two meshes of the same name with spaces: their materials must not merge.
    MeshSpec first = Triangle("props\\lid #1 top", "first"), second = Triangle("props\\lid #1 top", "second");
    second.staticVertices[0].position[0] = 3.0f;
    content.WriteTexture("first", "512",
                         modelwriter::Dds(1, 1, [](uint32_t, uint32_t) { return std::array<uint8_t, 4>{}; }));
    content.WriteTexture("second", "512",
                         modelwriter::Dds(1, 1, [](uint32_t, uint32_t) { return std::array<uint8_t, 4>{}; }));
    const std::string obj = Write(Build({first, second}), OutputFormat::Obj, "sub folder/two lids.obj");

    Assimp::Importer importer;
    const aiScene* read = importer.ReadFile(obj, aiProcess_ValidateDataStructure);
    ASSERT_NE(read, nullptr) << importer.GetErrorString();
    ASSERT_EQ(read->mNumMeshes, 2u);
    for (unsigned m = 0; m < 2; ++m) {
        const aiMaterial& material = *read->mMaterials[read->mMeshes[m]->mMaterialIndex];
        aiString diffuse;
        ASSERT_EQ(material.GetTexture(aiTextureType_DIFFUSE, 0, &diffuse), aiReturn_SUCCESS);
        EXPECT_EQ(std::string(diffuse.C_Str()),
                  std::string("two_lids_textures/") + (m ? "second" : "first") + ".512.png");
    }
    EXPECT_NE(ReadText(output.Path() + "/sub folder/two_lids.mtl").find("newmtl props_lid__1_top_2\n"),
              std::string::npos);
}

TEST_F(WriterTest, AnUnusableTextureLeavesItsMaterialUntexturedWithARecordOfIt)
{
    content.WriteTexture("props\\garbled", "512", modelwriter::DdsHeader(64, 64)); // no pixels after the header
    content.WriteTexture("props\\fine", "512",
                         modelwriter::Dds(1, 1, [](uint32_t, uint32_t) { return Pixel(0, 0, 255); }));
    // The textures that give no PNG come first: the one that does must still be found.
    const ExportScene exported =
        Build({Triangle("props\\bare", "props\\absent"), Triangle("props\\garbled", "props\\garbled"),
               Triangle("props\\fine", "props\\fine")});
    const std::string glb = Write(exported, OutputFormat::Glb, "bare.glb");
    const std::string keptGlb = Write(exported, OutputFormat::Glb, "kept.glb", false, true);
    const std::string gltf = Write(exported, OutputFormat::Gltf, "bare.gltf", true, true);
    const std::string obj = Write(exported, OutputFormat::Obj, "bare.obj");
    ExpectValid({glb, keptGlb, gltf});

    const std::string absent = content.TexturePath("props\\absent", "512");
    const std::string tried =
        fs::path(absent).parent_path().string() + "/absent.2048.dds, absent.1024.dds or absent.512.dds";
    ASSERT_EQ(warnings.size(), 8u) << "two per output";
    for (size_t w = 0; w < warnings.size(); w += 2) {
        EXPECT_EQ(warnings[w], "texture " + tried + ": none of them exists; its material has no texture");
        EXPECT_EQ(warnings[w + 1].rfind(
                      "texture " + content.TexturePath("props\\garbled", "512") + " cannot be decoded as DDS (", 0),
                  0u)
            << warnings[w + 1];
        EXPECT_NE(warnings[w + 1].find("); its material has no texture"), std::string::npos) << warnings[w + 1];
        EXPECT_EQ(warnings[w + 1].find("end-of-file"), std::string::npos) << "in our words: " << warnings[w + 1];
    }
    EXPECT_EQ(textures.Decodes(), 2u) << "a file that failed is not tried again";

    // Relative to the output, as an image's URI would be.
    const auto relative = [&](const std::string& path) { return fs::path(path).lexically_relative(output.Path()); };
    for (const std::string& path : {glb, keptGlb, gltf}) {
        SCOPED_TRACE(path);
        const bool keptDds = path != glb;
        const json root = path == gltf ? json::parse(ReadText(gltf)) : Glb(path).root;
        ASSERT_EQ(root.at("textures").size(), 1u) << "only the texture with a PNG";
        EXPECT_EQ(root.at("samplers").size(), 1u);
        EXPECT_EQ(root.at("images").size(), keptDds ? 2u : 1u) << "the PNG, and with --keep-dds its .dds";
        const json& fine = root.at("materials").at(2);
        EXPECT_EQ(fine.at("pbrMetallicRoughness").at("baseColorTexture").at("index"), 0);
        EXPECT_FALSE(fine.contains("extras"));
        EXPECT_EQ(root.contains("extensionsUsed"), keptDds);
        EXPECT_FALSE(root.contains("extensionsRequired"));
        for (size_t m = 0; m < 2; ++m) {
            const json& material = root.at("materials").at(m);
            EXPECT_FALSE(material.at("pbrMetallicRoughness").contains("baseColorTexture")) << m;
            EXPECT_EQ(material.at("alphaMode"), "OPAQUE");
            const json& wanted = material.at("extras").at("missingTexture");
            EXPECT_EQ(wanted.at("name"), m ? "props/garbled" : "props/absent");
            // With --copy-textures the .gltf wants the copy of the .dds that is there.
            const std::vector<std::string> copies = CopiesOf(output.Path(), "garbled.512");
            ASSERT_EQ(copies.size(), 1u);
            const std::string dds = m == 0         ? relative(absent).string()
                                    : path == gltf ? copies[0]
                                                   : relative(content.TexturePath("props\\garbled", "512")).string();
            EXPECT_EQ(wanted.at("dds"), dds);
            EXPECT_EQ(
                wanted.at("problem").get<std::string>().rfind(m ? "cannot be decoded as DDS (" : "does not exist", 0),
                0u)
                << wanted.at("problem");
        }
    }

    // The MTL names only files that are there; the others are a comment.
    const std::string mtl = ReadText(output.Path() + "/bare.mtl");
    std::istringstream lines(mtl);
    size_t maps = 0;
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("map_", 0) == 0) {
            ++maps;
            EXPECT_TRUE(fs::is_regular_file(output.Path() + "/" + line.substr(line.find(' ') + 1))) << line;
        }
    EXPECT_EQ(maps, 1u) << mtl;
    EXPECT_NE(mtl.find("\n# no texture: props/absent does not exist\n"), std::string::npos) << mtl;
    EXPECT_NE(mtl.find("\n# no texture: props/garbled cannot be decoded as DDS ("), std::string::npos) << mtl;
    Assimp::Importer importer;
    const aiScene* read = importer.ReadFile(obj, aiProcess_ValidateDataStructure);
    ASSERT_NE(read, nullptr) << importer.GetErrorString();
    aiString diffuse;
    size_t textured = 0;
    for (unsigned m = 0; m < read->mNumMaterials; ++m)
        textured += read->mMaterials[m]->GetTexture(aiTextureType_DIFFUSE, 0, &diffuse) == aiReturn_SUCCESS;
    EXPECT_EQ(textured, 1u);
}

TEST_F(WriterTest, GeometryNoViewerCanUseIsRepairedOrLeftAsABareNode)
{
    // Opposite faces on the same vertices: the host's normals cancel out there.
    content.WriteTexture("tex", "512", modelwriter::Dds(1, 1, [](uint32_t, uint32_t) { return Pixel(0, 0, 255); }));
    MeshSpec twoSided = Triangle("props\\card");
    twoSided.indices = {0, 1, 2, 2, 1, 0};
    MeshSpec empty = Triangle("props\\empty");
    empty.indices = {0, 1, 7}; // past the vertices: the face is dropped
    ExportScene exported = Build({twoSided, empty});
    ASSERT_EQ(exported.meshes.size(), 2u);
    ASSERT_TRUE(exported.meshes[1].indices.empty());
    exported.meshes[0].vertices[0].texCoord[1] = std::nanf("");
    exported.meshes[0].facts = VertexFacts(); // no longer what the collector saw

    const std::string glb = Write(exported, OutputFormat::Glb, "repaired.glb");
    ExpectValid({glb});
    EXPECT_EQ(warnings,
              std::vector<std::string>{"card: 1 vertex has coordinates that are not finite numbers, written as 0"});
    const Glb read(glb);
    const std::vector<float> normals = read.Read(read.Attributes(0).at("NORMAL"));
    for (size_t v = 0; v < normals.size(); v += 3) // the face's own: (1, 1, -1) / sqrt(3) in glTF's axes
        EXPECT_NEAR(std::abs(normals[v] + normals[v + 1] - normals[v + 2]), std::sqrt(3.0f), 1e-5f);
    EXPECT_EQ(read.root.at("nodes").at(1), (json{{"name", "empty"}}));
    EXPECT_EQ(read.root.at("meshes").size(), 1u);

    Assimp::Importer importer;
    const aiScene* obj =
        importer.ReadFile(Write(exported, OutputFormat::Obj, "repaired.obj"), aiProcess_ValidateDataStructure);
    ASSERT_NE(obj, nullptr) << importer.GetErrorString();
    EXPECT_EQ(obj->mNumMeshes, 1u);
}

// A URI reference back to the path it spells.
std::string UnescapeUri(const std::string& uri)
{
    std::string path;
    for (size_t i = 0; i < uri.size(); ++i) {
        if (uri[i] == '%' && i + 2 < uri.size()) {
            path += char(std::stoi(uri.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            path += uri[i];
        }
    }
    return path;
}

TEST_F(WriterTest, PathsBecomeUrisThatFindTheirFilesAndNamesThatAreNotUtf8AreReplaced)
{
    // Spaces, '#', '%' and bytes past ASCII in file names: each must be escaped in a URI.
    const std::string texture = content.WriteTexture(
        "50% caf\xC3\xA9", "512", modelwriter::Dds(1, 1, [](uint32_t, uint32_t) { return Pixel(0, 0, 255); }));
    ExportScene exported = TexturedTriangle(texture);
    exported.meshes[0].name = "caf\xE9 #1"; // Latin-1, as the game's files may hold
    const std::string gltf = Write(exported, OutputFormat::Gltf, "my scene #1.gltf");
    ExpectValid({gltf});

    const json root = json::parse(ReadText(gltf)); // refuses bytes that are not UTF-8
    EXPECT_EQ(root.at("nodes").at(0).at("name"), "caf\xEF\xBF\xBD #1");
    std::vector<std::string> uris{root.at("buffers").at(0).at("uri")};
    for (const json& image : root.at("images"))
        uris.push_back(image.at("uri"));
    ASSERT_EQ(uris.size(), 2u) << "the .bin and the PNG";
    const char* uriCharacters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~/%";
    for (const std::string& uri : uris) {
        EXPECT_EQ(uri.find_first_not_of(uriCharacters), std::string::npos) << uri;
        EXPECT_TRUE(fs::is_regular_file(output.Path() + "/" + UnescapeUri(uri))) << uri;
    }
}

} // namespace
