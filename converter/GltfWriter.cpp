// glTF 2.0: one node per mesh, one primitive each, separate attribute and index views in one
// buffer. Each texture's image is the PNG made from the .dds, which any viewer reads; the
// .dds itself is offered through MSFT_texture_dds to viewers that take it.
#include "Textures.h"
#include "WritableVertices.h"
#include "Writers.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <stdexcept>

using nlohmann::json;
namespace fs = std::filesystem;

namespace {

constexpr int arrayBuffer = 34962, elementArrayBuffer = 34963;
constexpr int floatComponent = 5126, unsignedShort = 5123, unsignedInt = 5125;
constexpr int trianglesMode = 4;
constexpr int linear = 9729, linearMipmapLinear = 9987, repeat = 10497;
constexpr char ddsExtension[] = "MSFT_texture_dds";

// A relative reference as a URI: every byte outside the unreserved set and '/' is escaped.
std::string UriReference(const std::string& path)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string uri;
    for (const unsigned char c : path) {
        const bool alphanumeric = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        if (alphanumeric || (c && std::strchr("-._~/", c)))
            uri += char(c);
        else
            uri += {'%', hex[c >> 4], hex[c & 15]};
    }
    return uri;
}

class GltfBuilder {
public:
    json root = json::object();
    std::vector<uint8_t> bin;

    // Appends `size` bytes at a 4-byte boundary as a view of its own; returns the view's index.
    size_t View(const void* data, size_t size, int target)
    {
        bin.resize((bin.size() + 3) & ~size_t(3), 0);
        const size_t offset = bin.size();
        bin.insert(bin.end(), static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
        return Push("bufferViews", {{"buffer", 0}, {"byteOffset", offset}, {"byteLength", size}, {"target", target}});
    }

    size_t Accessor(size_t view, int componentType, size_t count, const char* type)
    {
        return Push("accessors", {{"bufferView", view}, {"componentType", componentType}, {"count", count}, {"type", type}});
    }

    size_t Push(const char* array, json value)
    {
        json& items = root[array];
        items.push_back(std::move(value));
        return items.size() - 1;
    }

    // The mesh's primitive: attributes and indices, in the buffer.
    json Primitive(const ExportMesh& mesh, std::vector<std::string>& warnings)
    {
        std::vector<ExportVertex> repaired;
        const std::vector<ExportVertex>& vertices = writable::Vertices(mesh, repaired, warnings);
        const size_t count = vertices.size();
        std::vector<float> positions(3 * count), normals(3 * count), texCoords(2 * count);
        float low[3] = {0, 0, 0}, high[3] = {0, 0, 0};
        for (size_t i = 0; i < count; ++i) {
            const ExportVertex& v = vertices[i];
            std::copy(v.position, v.position + 3, &positions[3 * i]);
            std::copy(v.normal, v.normal + 3, &normals[3 * i]);
            std::copy(v.texCoord, v.texCoord + 2, &texCoords[2 * i]);
            for (int axis = 0; axis < 3; ++axis) {
                low[axis] = i ? std::min(low[axis], v.position[axis]) : v.position[axis];
                high[axis] = i ? std::max(high[axis], v.position[axis]) : v.position[axis];
            }
        }
        const size_t position = Accessor(View(positions.data(), positions.size() * 4, arrayBuffer), floatComponent, count, "VEC3");
        root["accessors"][position]["min"] = {low[0], low[1], low[2]};
        root["accessors"][position]["max"] = {high[0], high[1], high[2]};
        const size_t normal = Accessor(View(normals.data(), normals.size() * 4, arrayBuffer), floatComponent, count, "VEC3");
        const size_t texCoord = Accessor(View(texCoords.data(), texCoords.size() * 4, arrayBuffer), floatComponent, count, "VEC2");

        // 16-bit indices when they fit; 65535 itself is reserved for primitive restart.
        size_t indices;
        if (count <= 65535) {
            const std::vector<uint16_t> narrow(mesh.indices.begin(), mesh.indices.end());
            indices = Accessor(View(narrow.data(), narrow.size() * 2, elementArrayBuffer), unsignedShort, narrow.size(), "SCALAR");
        } else {
            indices = Accessor(View(mesh.indices.data(), mesh.indices.size() * 4, elementArrayBuffer), unsignedInt, mesh.indices.size(), "SCALAR");
        }
        json primitive = {{"attributes", {{"POSITION", position}, {"NORMAL", normal}, {"TEXCOORD_0", texCoord}}},
                          {"indices", indices},
                          {"mode", trianglesMode}};
        if (mesh.material >= 0)
            primitive["material"] = mesh.material;
        return primitive;
    }
};

const char* AlphaMode(TextureAlpha alpha)
{
    switch (alpha) {
    case TextureAlpha::Cutout: return "MASK";
    case TextureAlpha::Blended: return "BLEND";
    default: return "OPAQUE";
    }
}

std::vector<uint8_t> Glb(const std::string& text, const std::vector<uint8_t>& bin)
{
    const auto padded = [](size_t size) { return (size + 3) & ~size_t(3); };
    const uint64_t total = 12 + 8 + padded(text.size()) + (bin.empty() ? 0 : 8 + padded(bin.size()));
    if (total > UINT32_MAX)
        throw std::runtime_error("the scene is too large for a .glb file (4 GiB at most); write .gltf instead");
    std::vector<uint8_t> out;
    out.reserve(size_t(total));
    const auto u32 = [&](uint32_t value) {
        for (int shift = 0; shift < 32; shift += 8)
            out.push_back(uint8_t(value >> shift));
    };
    u32(0x46546C67); // "glTF"
    u32(2);
    u32(uint32_t(total));
    u32(uint32_t(padded(text.size())));
    u32(0x4E4F534A); // "JSON"
    out.insert(out.end(), text.begin(), text.end());
    out.resize(out.size() + padded(text.size()) - text.size(), ' ');
    if (!bin.empty()) {
        u32(uint32_t(padded(bin.size())));
        u32(0x004E4942); // "BIN\0"
        out.insert(out.end(), bin.begin(), bin.end());
        out.resize(out.size() + padded(bin.size()) - bin.size(), 0);
    }
    return out;
}

} // namespace

void WriteGltf(const ExportScene& scene, const WriteOptions& options, bool binary, OutputFiles& files,
               std::vector<std::string>& warnings)
{
    const std::vector<TextureReference> textures = PrepareTextures(scene, options, true, files, warnings);

    GltfBuilder gltf;
    gltf.root["asset"] = {{"version", "2.0"}, {"generator", "brennic-import"}};

    for (const TextureReference& texture : textures) {
        json entry = {{"sampler", 0}};
        if (!texture.png.empty())
            entry["source"] = gltf.Push("images", {{"uri", UriReference(texture.png)}, {"mimeType", "image/png"}});
        const size_t dds = gltf.Push("images", {{"uri", UriReference(texture.dds)}, {"mimeType", "image/vnd-ms.dds"}});
        entry["extensions"][ddsExtension]["source"] = dds;
        gltf.Push("textures", std::move(entry));
    }
    if (!textures.empty()) {
        gltf.Push("samplers", {{"magFilter", linear}, {"minFilter", linearMipmapLinear}, {"wrapS", repeat}, {"wrapT", repeat}});
        gltf.root["extensionsUsed"] = json::array({ddsExtension}); // not required: the PNG stands in for any viewer
    }

    // A game's diffuse map over a dielectric surface: not metal, fully rough.
    for (const ExportMaterial& material : scene.materials) {
        json pbr = {{"metallicFactor", 0}, {"roughnessFactor", 1}};
        TextureAlpha alpha = TextureAlpha::Opaque;
        if (material.texture >= 0) {
            pbr["baseColorTexture"] = {{"index", material.texture}};
            alpha = textures[size_t(material.texture)].alpha;
        }
        json entry = {{"name", material.name}, {"pbrMetallicRoughness", pbr}, {"alphaMode", AlphaMode(alpha)}, {"doubleSided", false}};
        if (alpha == TextureAlpha::Cutout)
            entry["alphaCutoff"] = 0.5;
        gltf.Push("materials", std::move(entry));
    }

    size_t binSize = 0;
    for (const ExportMesh& mesh : scene.meshes)
        binSize += 32 * mesh.vertices.size() + 4 * mesh.indices.size() + 4;
    gltf.bin.reserve(binSize);

    // A mesh without triangles keeps its node, without a mesh: glTF has no empty meshes.
    json sceneNodes = json::array();
    for (const ExportMesh& mesh : scene.meshes) {
        json node = {{"name", mesh.name}};
        if (!mesh.indices.empty() && !mesh.vertices.empty())
            node["mesh"] = gltf.Push("meshes", {{"name", mesh.name}, {"primitives", json::array({gltf.Primitive(mesh, warnings)})}});
        sceneNodes.push_back(gltf.Push("nodes", std::move(node)));
    }
    json& sceneEntry = gltf.root["scenes"][0] = json::object();
    if (!sceneNodes.empty())
        sceneEntry["nodes"] = std::move(sceneNodes);
    gltf.root["scene"] = 0;

    const fs::path output(options.outputPath);
    if (!gltf.bin.empty()) {
        json buffer = {{"byteLength", gltf.bin.size()}};
        if (!binary) {
            const fs::path binPath = fs::path(output).replace_extension(".bin");
            buffer["uri"] = UriReference(binPath.filename().string());
            WriteBytes(files.Add(binPath.string()), gltf.bin.data(), gltf.bin.size());
        }
        gltf.Push("buffers", std::move(buffer));
    }

    // Names are the game's bytes: any that are not UTF-8 become U+FFFD rather than fail.
    const std::string text = gltf.root.dump(binary ? -1 : 1, '\t', false, json::error_handler_t::replace);
    const std::string mainFile = files.Add(options.outputPath);
    if (binary) {
        const std::vector<uint8_t> glb = Glb(text, gltf.bin);
        WriteBytes(mainFile, glb.data(), glb.size());
    } else {
        WriteText(mainFile, text);
    }
}
