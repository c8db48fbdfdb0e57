// The writers on scenes the plug-in built: every glTF file passes the Khronos validator, and
// what the files hold (counts, facing, texture pixels and references) is read back.
#include "SceneTestSupport.h"
#include "Writers.h"

#include <Magick++.h>
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
#include <set>

using modelwriter::MeshSpec;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

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
        const size_t count = accessor.at("count").get<size_t>() * widths.at(accessor.at("type"));
        const int type = accessor.at("componentType");
        const size_t size = type == 5123 ? 2 : 4, offset = view.at("byteOffset").get<size_t>();
        if (offset + count * size > bin.size())
            throw std::runtime_error("an accessor past the buffer");
        std::vector<float> values(count);
        for (size_t i = 0; i < count; ++i) {
            uint32_t word = 0; // little-endian, as the machine
            std::memcpy(&word, bin.data() + offset + size * i, size);
            if (type == 5126)
                std::memcpy(&values[i], &word, 4);
            else
                values[i] = float(word);
        }
        return values;
    }
    const json& Attributes(size_t node) const { return Primitive(node).at("attributes"); }
    const json& Primitive(size_t node) const { return root.at("meshes").at(root.at("nodes").at(node).at("mesh").get<size_t>()).at("primitives").at(0); }
};

class WriterTest : public SceneTest {
protected:
    ExportScene Build(const std::vector<MeshSpec>& meshes)
    {
        LoadMeshes(meshes);
        EXPECT_EQ(holder.BuildScene(&scene), 1);
        return CollectScene(scene);
    }

    std::string Write(const ExportScene& exported, OutputFormat format, const std::string& name, bool copyTextures = false)
    {
        OutputFiles files;
        const WriteOptions options{output.path + "/" + name, copyTextures};
        if (format == OutputFormat::Obj)
            WriteObj(exported, options, files, warnings);
        else
            WriteGltf(exported, options, format == OutputFormat::Glb, files, warnings);
        files.Commit();
        return options.outputPath;
    }

    // The validator's report on failure: it fails on any issue of severity error.
    static void ExpectValid(const std::vector<std::string>& paths, bool allowMissingImages = false)
    {
        ASSERT_TRUE(fs::exists(fs::path(BRENNIC_GLTF_VALIDATOR).parent_path() / "node_modules/gltf-validator"))
            << "the glTF validator is not installed: run scripts/setup.sh";
        const TempFolder logFolder;
        std::string command = std::string(BRENNIC_NODE) + " " + BRENNIC_GLTF_VALIDATOR;
        if (allowMissingImages)
            command += " --allow-missing-images";
        for (const std::string& path : paths)
            command += " '" + path + "'";
        const int status = std::system((command + " > " + logFolder.path + "/log 2>&1").c_str());
        EXPECT_EQ(status, 0) << ReadText(logFolder.path + "/log");
    }

    // A texture of known pixels: red and green follow x and y, alpha as given.
    static std::array<uint8_t, 4> Pixel(uint32_t x, uint32_t y, uint8_t alpha) { return {uint8_t(40 * x), uint8_t(60 * y), 200, alpha}; }

    TempFolder output;
    std::vector<std::string> warnings;
};

TEST_F(WriterTest, TheSampleKeepsItsNodesAndTrianglesInEveryFormatAndValidates)
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
    EXPECT_EQ(ReadText(output.path + "/sample.bin"), read.bin) << "the .gltf's buffer is the .glb's";
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
            const auto [low, high] = std::minmax_element(objMesh.mVertices, objMesh.mVertices + objMesh.mNumVertices,
                [axis](const aiVector3D& a, const aiVector3D& b) { return a[axis] < b[axis]; });
            EXPECT_NEAR((*low)[axis], bounds.at("min").at(axis).get<float>(), 1e-6f) << "the OBJ's faces use their own mesh's vertices";
            EXPECT_NEAR((*high)[axis], bounds.at("max").at(axis).get<float>(), 1e-6f);
        }
    }
}

TEST_F(WriterTest, AnUpwardFileTriangleFacesUpInBothFormatsAndObjTextureOriginIsTheBottomLeft)
{
    MeshSpec up = Triangle("props\\up");
    const float positions[3][3] = {{0, 0, 0}, {0, 0, 1}, {1, 0, 0}}; // counter-clockwise seen from +y
    for (size_t i = 0; i < 3; ++i) {
        std::copy(positions[i], positions[i] + 3, up.staticVertices[i].position);
        up.staticVertices[i].texCoord[1] = 0.25f * float(i);
    }
    const ExportScene exported = Build({up});
    const Glb read(Write(exported, OutputFormat::Glb, "up.glb"));
    const std::vector<float> p = read.Read(read.Attributes(0).at("POSITION")), uv = read.Read(read.Attributes(0).at("TEXCOORD_0"));
    const std::vector<float> index = read.Read(read.Primitive(0).at("indices"));
    ASSERT_EQ(index.size(), 3u);
    const auto corner = [&](size_t k) { return aiVector3D(p[3 * size_t(index[k])], p[3 * size_t(index[k]) + 1], p[3 * size_t(index[k]) + 2]); };
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

TEST_F(WriterTest, ThePngFallbackHasTheTexturePixelsItsAlphaSetsTheAlphaModeAndCopiesLieBesideTheOutput)
{
    const std::map<std::string, std::function<uint8_t(uint32_t, uint32_t)>> alphas{
        {"opaque", [](uint32_t, uint32_t) { return uint8_t(255); }},
        {"cutout", [](uint32_t x, uint32_t) { return uint8_t(x % 2 ? 0 : 255); }},
        {"blended", [](uint32_t x, uint32_t y) { return uint8_t(x == 3 && y == 1 ? 254 : 255); }}};
    std::vector<MeshSpec> meshes;
    for (const auto& named : alphas) {
        const auto& alpha = named.second;
        content.WriteTexture(named.first, "512", modelwriter::Dds(5, 3, [&](uint32_t x, uint32_t y) { return Pixel(x, y, alpha(x, y)); }));
        meshes.push_back(Triangle(named.first, named.first));
    }
    const ExportScene exported = Build(meshes);
    const std::string glb = Write(exported, OutputFormat::Glb, "textured.glb", true);
    Write(exported, OutputFormat::Obj, "textured.obj", true);
    EXPECT_EQ(warnings, std::vector<std::string>{});
    ExpectValid({glb});

    const json root = Glb(glb).root;
    const std::map<std::string, std::string> expectedMode{{"opaque", "OPAQUE"}, {"cutout", "MASK"}, {"blended", "BLEND"}};
    for (const json& material : root.at("materials")) {
        const std::string name = material.at("name");
        SCOPED_TRACE(name);
        EXPECT_EQ(material.at("alphaMode"), expectedMode.at(name));
        const json& texture = root.at("textures").at(material.at("pbrMetallicRoughness").at("baseColorTexture").at("index").get<size_t>());
        const json& dds = root.at("images").at(texture.at("extensions").at("MSFT_texture_dds").at("source").get<size_t>());
        EXPECT_EQ(dds.at("uri"), name + ".512.dds");
        EXPECT_EQ(ReadText(output.path + "/" + name + ".512.dds"), ReadText(content.TexturePath(name, "512")));
        EXPECT_NE(ReadText(output.path + "/textured.mtl").find("map_Kd " + name + ".512.dds\n"), std::string::npos);

        Magick::Image png(output.path + "/" + root.at("images").at(texture.at("source").get<size_t>()).at("uri").get<std::string>());
        ASSERT_EQ(png.columns(), 5u);
        ASSERT_EQ(png.rows(), 3u);
        std::vector<uint8_t> rgba(5 * 3 * 4);
        png.write(0, 0, 5, 3, "RGBA", Magick::CharPixel, rgba.data());
        for (uint32_t y = 0; y < 3; ++y)
            for (uint32_t x = 0; x < 5; ++x) {
                const std::array<uint8_t, 4> expected = Pixel(x, y, alphas.at(name)(x, y));
                EXPECT_TRUE(std::equal(expected.begin(), expected.end(), &rgba[4 * (5 * y + x)])) << "pixel " << x << ", " << y;
            }
    }
}

TEST_F(WriterTest, ObjMaterialsStayApartWhateverTheirNamesAndPointAtTheirTextures)
{
    // Two meshes of the same name with spaces: their materials must not merge.
    MeshSpec first = Triangle("props\\lid #1 top", "first"), second = Triangle("props\\lid #1 top", "second");
    second.staticVertices[0].position[0] = 3.0f;
    content.WriteTexture("first", "512", modelwriter::Dds(1, 1, [](uint32_t, uint32_t) { return std::array<uint8_t, 4>{}; }));
    content.WriteTexture("second", "512", modelwriter::Dds(1, 1, [](uint32_t, uint32_t) { return std::array<uint8_t, 4>{}; }));
    const std::string obj = Write(Build({first, second}), OutputFormat::Obj, "sub folder/two lids.obj");

    Assimp::Importer importer;
    const aiScene* read = importer.ReadFile(obj, aiProcess_ValidateDataStructure);
    ASSERT_NE(read, nullptr) << importer.GetErrorString();
    ASSERT_EQ(read->mNumMeshes, 2u);
    for (unsigned m = 0; m < 2; ++m) {
        const aiMaterial& material = *read->mMaterials[read->mMeshes[m]->mMaterialIndex];
        aiString diffuse, opacity;
        ASSERT_EQ(material.GetTexture(aiTextureType_DIFFUSE, 0, &diffuse), aiReturn_SUCCESS);
        ASSERT_EQ(material.GetTexture(aiTextureType_OPACITY, 0, &opacity), aiReturn_SUCCESS);
        EXPECT_EQ(std::string(diffuse.C_Str()), std::string(opacity.C_Str()));
        EXPECT_TRUE(fs::equivalent(fs::path(obj).parent_path() / diffuse.C_Str(), content.TexturePath(m ? "second" : "first", "512")));
    }
    EXPECT_NE(ReadText(output.path + "/sub folder/two_lids.mtl").find("newmtl props_lid__1_top_2\n"), std::string::npos);
}

TEST_F(WriterTest, AMissingOrUndecodableTextureIsReportedAndStillReferencedAndTheGltfValidates)
{
    content.WriteTexture("garbled", "512", modelwriter::DdsHeader(64, 64)); // no pixels after the header
    const ExportScene exported = Build({Triangle("props\\bare", "absent"), Triangle("props\\garbled", "garbled")});
    const std::string glb = Write(exported, OutputFormat::Glb, "bare.glb");
    Write(exported, OutputFormat::Obj, "bare.obj");
    ASSERT_EQ(warnings.size(), 3u) << "the OBJ decodes nothing";
    EXPECT_NE(warnings[0].find("absent.512.dds does not exist; the output keeps the reference to it"), std::string::npos) << warnings[0];
    EXPECT_NE(warnings[1].find("garbled.512.dds cannot be decoded as DDS (unexpected end-of-file)"), std::string::npos) << warnings[1];
    ExpectValid({glb}, true);

    const json root = Glb(glb).root;
    ASSERT_EQ(root.at("images").size(), 2u) << "no PNG";
    for (int t = 0; t < 2; ++t) {
        const json& texture = root.at("textures").at(t);
        EXPECT_FALSE(texture.contains("source"));
        const fs::path expected = fs::path(content.TexturePath(t ? "garbled" : "absent", "512")).lexically_normal();
        const json& dds = root.at("images").at(texture.at("extensions").at("MSFT_texture_dds").at("source").get<size_t>());
        EXPECT_EQ((fs::path(output.path) / dds.at("uri").get<std::string>()).lexically_normal(), expected);
        EXPECT_NE(ReadText(output.path + "/bare.mtl").find("map_Kd " + expected.lexically_relative(output.path).string()), std::string::npos);
    }
    EXPECT_FALSE(fs::exists(output.path + "/bare_textures"));
}

TEST_F(WriterTest, GeometryNoViewerCanUseIsRepairedAndEmptyMeshesKeepTheirNode)
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

    const std::string glb = Write(exported, OutputFormat::Glb, "repaired.glb");
    ExpectValid({glb});
    EXPECT_EQ(warnings, std::vector<std::string>{"card: 1 vertex has coordinates that are not finite numbers, written as 0"});
    const Glb read(glb);
    const std::vector<float> normals = read.Read(read.Attributes(0).at("NORMAL"));
    for (size_t v = 0; v < normals.size(); v += 3) // the face's own: (1, 1, -1) / sqrt(3) in glTF's axes
        EXPECT_NEAR(std::abs(normals[v] + normals[v + 1] - normals[v + 2]), std::sqrt(3.0f), 1e-5f);
    EXPECT_EQ(read.root.at("nodes").at(1), (json{{"name", "empty"}}));
    EXPECT_EQ(read.root.at("meshes").size(), 1u);

    Assimp::Importer importer;
    const aiScene* obj = importer.ReadFile(Write(exported, OutputFormat::Obj, "repaired.obj"), aiProcess_ValidateDataStructure);
    ASSERT_NE(obj, nullptr) << importer.GetErrorString();
    EXPECT_EQ(obj->mNumMeshes, 1u);
}

} // namespace
