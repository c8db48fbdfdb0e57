// glTF 2.0: one node per mesh, one primitive each, separate attribute and index views in one
// buffer. Each texture's image is the PNG made from the .dds, which any viewer reads: inside a
// .glb, beside a .gltf. On request the .dds itself is offered through MSFT_texture_dds to
// viewers that take it, and so is a texture that gave no PNG, to keep the reference.
#include "SharedWork.h"
#include "Textures.h"
#include "WritableVertices.h"
#include "Writers.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
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
    std::map<std::pair<const void*, std::string>, size_t> images; // by bytes embedded, else by URI

    // The buffer is allocated once, at its largest size, and not cleared: each view is written
    // whole, and only the padding between views is zeroed.
    explicit GltfBuilder(size_t capacity) : bin(new uint8_t[capacity]), binCapacity(capacity) {}

    const uint8_t* Bin() const { return bin.get(); }
    size_t BinSize() const { return binSize; }

    // Makes room for `size` bytes at a 4-byte boundary as a view of its own, to be filled
    // whole by the caller; `view` is the view's index. Images have no target.
    uint8_t* View(size_t size, int target, size_t& view)
    {
        const size_t offset = (binSize + 3) & ~size_t(3);
        if (size > binCapacity || offset > binCapacity - size)
            throw std::logic_error("the glTF buffer was sized too small");
        std::memset(bin.get() + binSize, 0, offset - binSize);
        binSize = offset + size;
        json entry = {{"buffer", 0}, {"byteOffset", offset}, {"byteLength", size}};
        if (target)
            entry["target"] = target;
        view = Push("bufferViews", std::move(entry));
        return bin.get() + offset;
    }

    // An image in the buffer (for .glb) or a file beside the output.
    // Textures that share bytes or a file share the image.
    size_t Image(const SharedBytes& embedded, const std::string& uri, const char* mimeType)
    {
        const auto [known, isNew] = images.try_emplace({embedded.get(), embedded ? std::string() : uri}, 0);
        if (!isNew)
            return known->second;
        if (!embedded)
            return known->second = Push("images", {{"uri", UriReference(uri)}}); // the file's own bytes tell its type
        size_t view = 0;
        std::memcpy(View(embedded->size(), 0, view), embedded->data(), embedded->size());
        return known->second = Push("images", {{"bufferView", view}, {"mimeType", mimeType}});
    }

    size_t Accessor(size_t view, int componentType, size_t count, const char* type)
    {
        return Push("accessors",
                    {{"bufferView", view}, {"componentType", componentType}, {"count", count}, {"type", type}});
    }

    size_t Push(const char* array, json value)
    {
        json& items = root[array];
        items.push_back(std::move(value));
        return items.size() - 1;
    }

    // The mesh's primitive: its views and accessors, to be filled by FillMeshes.
    json Primitive(const ExportMesh& mesh)
    {
        const size_t count = mesh.vertices.size();
        MeshFill fill;
        fill.mesh = &mesh;
        size_t positionView = 0, normalView = 0, texCoordView = 0, indexView = 0;
        fill.positions = reinterpret_cast<float*>(View(count * 12, arrayBuffer, positionView));
        fill.normals = reinterpret_cast<float*>(View(count * 12, arrayBuffer, normalView));
        fill.texCoords = reinterpret_cast<float*>(View(count * 8, arrayBuffer, texCoordView));
        const size_t position = fill.positionAccessor = Accessor(positionView, floatComponent, count, "VEC3");
        const size_t normal = Accessor(normalView, floatComponent, count, "VEC3");
        const size_t texCoord = Accessor(texCoordView, floatComponent, count, "VEC2");
        // 16-bit indices when they fit; 65535 itself is reserved for primitive restart.
        fill.narrowIndices = count <= 65535;
        fill.indices = View(mesh.indices.size() * (fill.narrowIndices ? 2 : 4), elementArrayBuffer, indexView);
        const size_t indices =
            Accessor(indexView, fill.narrowIndices ? unsignedShort : unsignedInt, mesh.indices.size(), "SCALAR");
        fills.push_back(std::move(fill));

        json primitive = {{"attributes", {{"POSITION", position}, {"NORMAL", normal}, {"TEXCOORD_0", texCoord}}},
                          {"indices", indices},
                          {"mode", trianglesMode}};
        if (mesh.material >= 0)
            primitive["material"] = mesh.material;
        return primitive;
    }

    // Fills every primitive's views (a large scene's meshes on two threads), then gives each
    // position accessor its bounds. Warnings come in mesh order.
    void FillMeshes(std::vector<std::string>& warnings)
    {
        size_t vertices = 0;
        for (const MeshFill& fill : fills)
            vertices += fill.mesh->vertices.size();
        ForEachShared(fills.size(), vertices >= sharedVertices, [&](size_t i) { Fill(fills[i]); });
        for (MeshFill& fill : fills) {
            json& accessor = root["accessors"][fill.positionAccessor];
            accessor["min"] = {fill.low[0], fill.low[1], fill.low[2]};
            accessor["max"] = {fill.high[0], fill.high[1], fill.high[2]};
            warnings.insert(warnings.end(), fill.warnings.begin(), fill.warnings.end());
        }
        fills.clear();
    }

private:
    // Below this many vertices in all, a second thread costs more than it saves.
    static constexpr size_t sharedVertices = 1 << 18;

    // A primitive's views, to be filled from its mesh.
    struct MeshFill {
        const ExportMesh* mesh = nullptr;
        float *positions = nullptr, *normals = nullptr, *texCoords = nullptr;
        uint8_t* indices = nullptr;
        bool narrowIndices = false;
        size_t positionAccessor = 0;
        float low[3] = {0, 0, 0}, high[3] = {0, 0, 0}; // the positions' bounds
        std::vector<std::string> warnings;
    };

    // One pass puts each vertex into the three attribute views and takes the positions' bounds.
    static void Fill(MeshFill& fill)
    {
        std::vector<ExportVertex> repaired;
        const std::vector<ExportVertex>& vertices = writable::Vertices(*fill.mesh, repaired, fill.warnings);
        std::copy_n(vertices[0].position, 3, fill.low);
        std::copy_n(vertices[0].position, 3, fill.high);
        float *positions = fill.positions, *normals = fill.normals, *texCoords = fill.texCoords;
        for (const ExportVertex& v : vertices) {
            for (int axis = 0; axis < 3; ++axis) {
                fill.low[axis] = std::min(fill.low[axis], v.position[axis]);
                fill.high[axis] = std::max(fill.high[axis], v.position[axis]);
            }
            std::memcpy(positions, v.position, 12);
            std::memcpy(normals, v.normal, 12);
            std::memcpy(texCoords, v.texCoord, 8);
            positions += 3, normals += 3, texCoords += 2;
        }
        const std::vector<uint32_t>& indices = fill.mesh->indices;
        if (!fill.narrowIndices) {
            std::memcpy(fill.indices, indices.data(), indices.size() * 4);
            return;
        }
        uint8_t* out = fill.indices;
        for (uint32_t index : indices) {
            const auto narrow = uint16_t(index);
            std::memcpy(out, &narrow, 2);
            out += 2;
        }
    }

    std::vector<MeshFill> fills;
    std::unique_ptr<uint8_t[]> bin;
    size_t binSize = 0;
    const size_t binCapacity;
};

const char* AlphaMode(TextureAlpha alpha)
{
    switch (alpha) {
    case TextureAlpha::Cutout: return "MASK";
    case TextureAlpha::Blended: return "BLEND";
    default: return "OPAQUE";
    }
}

// Header, JSON chunk and BIN chunk, written straight to the file (no copy of the buffer).
void WriteGlb(OutputFile& file, const std::string& text, const uint8_t* bin, size_t binSize)
{
    const auto padded = [](size_t size) { return (size + 3) & ~size_t(3); };
    const uint64_t total = 12 + 8 + padded(text.size()) + (binSize ? 8 + padded(binSize) : 0);
    if (total > UINT32_MAX)
        throw std::runtime_error("the scene is too large for a .glb file (4 GiB at most); write .gltf instead");
    const uint32_t header[5] = {0x46546C67 /* glTF */, 2, uint32_t(total), uint32_t(padded(text.size())),
                                0x4E4F534A /* JSON */};
    const uint32_t binHeader[2] = {uint32_t(padded(binSize)), 0x004E4942 /* BIN */};
    const char spaces[3] = {' ', ' ', ' '}, zeros[3] = {0, 0, 0};

    file.Write(header, sizeof header);
    file.Write(text.data(), text.size());
    file.Write(spaces, padded(text.size()) - text.size());
    if (binSize) {
        file.Write(binHeader, sizeof binHeader);
        file.Write(bin, binSize);
        file.Write(zeros, padded(binSize) - binSize);
    }
    file.Close();
}

} // namespace

void WriteGltf(const ExportScene& scene, const WriteOptions& options, bool binary, OutputFiles& files,
               std::vector<std::string>& warnings)
{
    const std::vector<TextureReference> textures = PrepareTextures(scene, options, binary, files, warnings);

    size_t binSize = 0;
    for (const ExportMesh& mesh : scene.meshes)
        binSize += 32 * mesh.vertices.size() + 4 * mesh.indices.size() + 4;
    std::set<const void*> counted; // textures that share bytes share them in the buffer
    for (const TextureReference& texture : textures) {
        if (texture.pngBytes && binary && counted.insert(texture.pngBytes.get()).second)
            binSize += texture.pngBytes->size() + 4;
        if (texture.ddsBytes && counted.insert(texture.ddsBytes.get()).second)
            binSize += texture.ddsBytes->size() + 4;
    }
    GltfBuilder gltf(binSize);
    gltf.root["asset"] = {{"version", "2.0"}, {"generator", "brennic-import"}};

    // A mesh without triangles keeps its node, without a mesh: glTF has no empty meshes.
    json sceneNodes = json::array();
    for (const ExportMesh& mesh : scene.meshes) {
        json node = {{"name", mesh.name}};
        if (!mesh.indices.empty() && !mesh.vertices.empty())
            node["mesh"] =
                gltf.Push("meshes", {{"name", mesh.name}, {"primitives", json::array({gltf.Primitive(mesh)})}});
        sceneNodes.push_back(gltf.Push("nodes", std::move(node)));
    }
    gltf.FillMeshes(warnings);
    json& sceneEntry = gltf.root["scenes"][0] = json::object();
    if (!sceneNodes.empty())
        sceneEntry["nodes"] = std::move(sceneNodes);
    gltf.root["scene"] = 0;

    // Images after the geometry, so a .glb's buffer starts as its .gltf's does.
    bool ddsUsed = false;
    for (const TextureReference& texture : textures) {
        json entry = {{"sampler", 0}};
        if (texture.pngBytes)
            entry["source"] = gltf.Image(binary ? texture.pngBytes : nullptr, texture.png, "image/png");
        if (options.keepDds || !texture.pngBytes) {
            entry["extensions"][ddsExtension]["source"] = gltf.Image(texture.ddsBytes, texture.dds, "image/vnd-ms.dds");
            ddsUsed = true;
        }
        gltf.Push("textures", std::move(entry));
    }
    if (!textures.empty())
        gltf.Push("samplers",
                  {{"magFilter", linear}, {"minFilter", linearMipmapLinear}, {"wrapS", repeat}, {"wrapT", repeat}});
    if (ddsUsed)
        gltf.root["extensionsUsed"] = json::array({ddsExtension}); // not required: the PNG stands in for any viewer

    // A game's diffuse map over a dielectric surface: not metal, fully rough.
    for (const ExportMaterial& material : scene.materials) {
        json pbr = {{"metallicFactor", 0}, {"roughnessFactor", 1}};
        TextureAlpha alpha = TextureAlpha::Opaque;
        if (material.texture >= 0) {
            pbr["baseColorTexture"] = {{"index", material.texture}};
            alpha = textures[size_t(material.texture)].alpha;
        }
        json entry = {{"name", material.name},
                      {"pbrMetallicRoughness", pbr},
                      {"alphaMode", AlphaMode(alpha)},
                      {"doubleSided", false}};
        if (alpha == TextureAlpha::Cutout)
            entry["alphaCutoff"] = 0.5;
        gltf.Push("materials", std::move(entry));
    }

    const fs::path output(options.outputPath);
    if (gltf.BinSize()) {
        json buffer = {{"byteLength", gltf.BinSize()}};
        if (!binary) {
            const fs::path binPath = fs::path(output).replace_extension(".bin");
            buffer["uri"] = UriReference(binPath.filename().string());
            files.Write(binPath.string(), gltf.Bin(), gltf.BinSize());
        }
        gltf.Push("buffers", std::move(buffer));
    }

    // Names are the game's bytes: any that are not UTF-8 become U+FFFD rather than fail.
    const std::string text = gltf.root.dump(binary ? -1 : 1, '\t', false, json::error_handler_t::replace);
    if (binary)
        WriteGlb(files.Create(options.outputPath), text, gltf.Bin(), gltf.BinSize());
    else
        files.Write(options.outputPath, text.data(), text.size());
}
