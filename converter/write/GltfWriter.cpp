// glTF 2.0: one node per mesh, with one primitive each. A primitive's vertex attributes are
// interleaved in one view and its indices are in another, all in one buffer that is streamed to
// the file.

// Each texture's image is the PNG made from the .dds, which any viewer reads: inside a .glb, or
// beside a .gltf. On request the .dds itself is offered too, through MSFT_texture_dds, to viewers
// that support it. A texture that gave no PNG is left out, and its material's extras say what it
// wanted.
#include "SharedWork.h"
#include "TextureLayout.h"
#include "WritableVertices.h"
#include "Writers.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
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
    struct MeshFill;

    // Where a view's bytes come from when the buffer is written: bytes as they lie, indices
    // narrowed to 16 bits, a mesh's vertices once checked (interleaved as ExportVertex is), or
    // an image waiting in the spill file.
    struct Source {
        const void* bytes = nullptr;
        const std::vector<uint32_t>* narrowed = nullptr;
        const MeshFill* fill = nullptr;
        const SpillFile* spill = nullptr;
        SpillSpan span;
    };

public:
    json root = json::object();

    size_t BinSize() const { return binSize; }

    // Lays out a view of `size` bytes at the next 4-byte boundary; its bytes are written from
    // `source` with the buffer. Images have no target; interleaved vertices have a stride.
    size_t View(size_t size, int target, Source source, size_t stride = 0)
    {
        const size_t offset = (binSize + 3) & ~size_t(3);
        binSize = offset + size;
        parts.push_back({offset, size, source});
        json entry = {{"buffer", 0}, {"byteOffset", offset}, {"byteLength", size}};
        if (stride)
            entry["byteStride"] = stride;
        if (target)
            entry["target"] = target;
        return Push("bufferViews", std::move(entry));
    }

    // An image in the buffer, from `spill` (for .glb), or a file beside the output.
    // Textures that share bytes or a file share the image.
    size_t Image(const SpillFile* spill, SpillSpan span, const std::string& uri, const char* mimeType)
    {
        if (!spill) {
            const auto [known, isNew] = imagesByUri.try_emplace(uri, 0);
            if (isNew) // the file's own bytes tell its type
                known->second = Push("images", {{"uri", UriReference(uri)}});
            return known->second;
        }
        const auto [known, isNew] = imagesBySpan.try_emplace(span.offset, 0);
        if (!isNew)
            return known->second;
        Source source;
        source.spill = spill;
        source.span = span;
        const size_t view = View(size_t(span.size), 0, source);
        return known->second = Push("images", {{"bufferView", view}, {"mimeType", mimeType}});
    }

    size_t Accessor(size_t view, size_t byteOffset, int componentType, size_t count, const char* type)
    {
        json entry = {{"bufferView", view}, {"componentType", componentType}, {"count", count}, {"type", type}};
        if (byteOffset)
            entry["byteOffset"] = byteOffset;
        return Push("accessors", std::move(entry));
    }

    size_t Push(const char* array, json value)
    {
        json& items = root[array];
        items.push_back(std::move(value));
        return items.size() - 1;
    }

    // The mesh's primitive: its vertices in one view, their attributes interleaved as
    // ExportVertex holds them (so they are written from it as they are), and its indices.
    json Primitive(const ExportMesh& mesh)
    {
        static_assert(sizeof(ExportVertex) == 32, "an ExportVertex is its three attributes, unpadded");
        const size_t count = mesh.vertices.size();
        fills.push_back(std::make_unique<MeshFill>());
        MeshFill& fill = *fills.back();
        fill.mesh = &mesh;
        Source vertices;
        vertices.fill = &fill;
        const size_t vertexView = View(count * sizeof(ExportVertex), arrayBuffer, vertices, sizeof(ExportVertex));
        const size_t position = fill.positionAccessor =
            Accessor(vertexView, offsetof(ExportVertex, position), floatComponent, count, "VEC3");
        const size_t normal = Accessor(vertexView, offsetof(ExportVertex, normal), floatComponent, count, "VEC3");
        const size_t texCoord = Accessor(vertexView, offsetof(ExportVertex, texCoord), floatComponent, count, "VEC2");

        // 16-bit indices when they fit; 65535 itself is reserved for primitive restart.
        const bool narrow = count <= 65535;
        Source indexSource;
        if (narrow)
            indexSource.narrowed = &mesh.indices;
        else
            indexSource.bytes = mesh.indices.data();
        const size_t indexView = View(mesh.indices.size() * (narrow ? 2 : 4), elementArrayBuffer, indexSource);
        const size_t indices =
            Accessor(indexView, 0, narrow ? unsignedShort : unsignedInt, mesh.indices.size(), "SCALAR");

        json primitive = {{"attributes", {{"POSITION", position}, {"NORMAL", normal}, {"TEXCOORD_0", texCoord}}},
                          {"indices", indices},
                          {"mode", trianglesMode}};
        if (mesh.material >= 0)
            primitive["material"] = mesh.material;
        return primitive;
    }

    // Checks every primitive's vertices, repairing a copy where needed (a large scene's meshes
    // on two threads), and gives each position accessor its bounds. Warnings come in mesh order.
    void CheckMeshes(std::vector<std::string>& warnings)
    {
        size_t vertices = 0;
        for (const auto& fill : fills)
            vertices += fill->mesh->facts.allWritable ? 0 : fill->mesh->vertices.size();
        ForEachShared(fills.size(), vertices >= sharedVertices, [&](size_t i) { Check(*fills[i]); });
        for (const auto& fill : fills) {
            json& accessor = root["accessors"][fill->positionAccessor];
            accessor["min"] = {fill->low[0], fill->low[1], fill->low[2]};
            accessor["max"] = {fill->high[0], fill->high[1], fill->high[2]};
            warnings.insert(warnings.end(), fill->warnings.begin(), fill->warnings.end());
        }
    }

    // The buffer's bytes, view after view, straight from where they lie: nothing the size of
    // the buffer is held in memory.
    void WriteBin(OutputFile& file) const
    {
        static const char zeros[4] = {};
        std::vector<uint16_t> narrowed;
        size_t at = 0;
        for (const Part& part : parts) {
            file.Write(zeros, part.offset - at);
            if (part.source.narrowed) {
                const std::vector<uint32_t>& indices = *part.source.narrowed;
                constexpr size_t step = 1 << 19; // a megabyte of 16-bit indices at a time
                for (size_t from = 0; from < indices.size(); from += step) {
                    narrowed.assign(indices.begin() + ptrdiff_t(from),
                                    indices.begin() + ptrdiff_t(std::min(indices.size(), from + step)));
                    file.Write(narrowed.data(), narrowed.size() * 2);
                }
            } else if (part.source.fill) {
                file.Write(part.source.fill->vertices->data(), part.size);
            } else if (part.source.spill) {
                part.source.spill->CopyTo(part.source.span, file);
            } else {
                file.Write(part.source.bytes, part.size);
            }
            at = part.offset + part.size;
        }
    }

private:
    // Below this many vertices in all, a second thread costs more than it saves.
    static constexpr size_t sharedVertices = 1 << 18;

    // A primitive's vertices as they are written: the mesh's own, or a repaired copy.
    struct MeshFill {
        const ExportMesh* mesh = nullptr;
        const std::vector<ExportVertex>* vertices = nullptr; // set by Check
        std::vector<ExportVertex> repaired;
        size_t positionAccessor = 0;
        float low[3] = {0, 0, 0}, high[3] = {0, 0, 0}; // the positions' bounds
        std::vector<std::string> warnings;
    };

    struct Part {
        size_t offset, size;
        Source source;
    };

    static void Check(MeshFill& fill)
    {
        const bool checked = fill.mesh->facts.allWritable; // as they were made
        fill.vertices = checked ? &fill.mesh->vertices : &writable::Vertices(*fill.mesh, fill.repaired, fill.warnings);
        const VertexFacts bounds = checked ? fill.mesh->facts : VertexFacts::Of(*fill.vertices);
        std::copy_n(bounds.low, 3, fill.low);
        std::copy_n(bounds.high, 3, fill.high);
    }

    std::vector<std::unique_ptr<MeshFill>> fills; // each where its view's Source points
    std::vector<Part> parts;                      // in the order of their views
    size_t binSize = 0;
    std::map<std::string, size_t> imagesByUri;
    std::map<uint64_t, size_t> imagesBySpan; // by offset in the spill file
};

const char* AlphaMode(TextureAlpha alpha)
{
    switch (alpha) {
    case TextureAlpha::Cutout: return "MASK";
    case TextureAlpha::Blended: return "BLEND";
    default: return "OPAQUE";
    }
}

// Writes the header, JSON chunk and BIN chunk, streaming the buffer from where its bytes lie.
void WriteGlb(OutputFile& file, const std::string& text, const GltfBuilder& gltf)
{
    const size_t binSize = gltf.BinSize();
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
        gltf.WriteBin(file);
        file.Write(zeros, padded(binSize) - binSize);
    }
    file.Close();
}

} // namespace

void WriteGltf(const ExportScene& scene, const WriteOptions& options, bool binary, OutputFiles& files,
               std::vector<std::string>& warnings)
{
    // A .glb's images wait on disk past their first megabyte, not in memory, until its buffer is written.
    SpillFile spill(options.outputPath);
    const std::vector<TextureReference> textures =
        PrepareTextures(scene, options, binary ? &spill : nullptr, files, warnings);

    GltfBuilder gltf;
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
    gltf.CheckMeshes(warnings);
    json& sceneEntry = gltf.root["scenes"][0] = json::object();
    if (!sceneNodes.empty())
        sceneEntry["nodes"] = std::move(sceneNodes);
    gltf.root["scene"] = 0;

    // Images come after the geometry, so a .glb's buffer starts as its .gltf's does. A texture
    // without a PNG gets no entry, even with keepDds: its .dds would need MSFT_texture_dds to be
    // required, and then every reader without it would refuse the whole file, for an image we
    // could not decode ourselves.
    std::vector<int> textureEntries(textures.size(), -1);
    for (size_t t = 0; t < textures.size(); ++t) {
        const TextureReference& texture = textures[t];
        if (!texture.hasPng)
            continue;
        const SpillFile* embedded = binary ? &spill : nullptr;
        json entry = {{"sampler", 0}, {"source", gltf.Image(embedded, texture.pngSpan, texture.png, "image/png")}};
        if (options.keepDds)
            entry["extensions"][ddsExtension]["source"] =
                gltf.Image(embedded, texture.ddsSpan, texture.dds, "image/vnd-ms.dds");
        textureEntries[t] = int(gltf.Push("textures", std::move(entry)));
    }
    if (gltf.root.contains("textures")) {
        gltf.Push("samplers",
                  {{"magFilter", linear}, {"minFilter", linearMipmapLinear}, {"wrapS", repeat}, {"wrapT", repeat}});
        if (options.keepDds)
            gltf.root["extensionsUsed"] = json::array({ddsExtension}); // not required: the PNG stands in for any viewer
    }

    // A game's diffuse map over a dielectric surface: not metal, fully rough.
    for (const ExportMaterial& material : scene.materials) {
        json pbr = {{"metallicFactor", 0}, {"roughnessFactor", 1}};
        TextureAlpha alpha = TextureAlpha::Opaque;
        json missing;
        if (material.texture >= 0) {
            const TextureReference& texture = textures[size_t(material.texture)];
            if (textureEntries[size_t(material.texture)] >= 0) {
                pbr["baseColorTexture"] = {{"index", textureEntries[size_t(material.texture)]}};
                alpha = texture.alpha;
            } else {
                missing = {{"name", texture.name}, {"dds", texture.dds}, {"problem", texture.problem}};
            }
        }
        json entry = {{"name", material.name},
                      {"pbrMetallicRoughness", pbr},
                      {"alphaMode", AlphaMode(alpha)},
                      {"doubleSided", false}};
        if (alpha == TextureAlpha::Cutout)
            entry["alphaCutoff"] = 0.5;
        if (!missing.is_null())
            entry["extras"]["missingTexture"] = std::move(missing);
        gltf.Push("materials", std::move(entry));
    }

    const fs::path output(options.outputPath);
    if (gltf.BinSize()) {
        json buffer = {{"byteLength", gltf.BinSize()}};
        if (!binary) {
            const fs::path binPath = fs::path(output).replace_extension(".bin");
            buffer["uri"] = UriReference(binPath.filename().string());
            OutputFile& binFile = files.Create(binPath.string());
            gltf.WriteBin(binFile);
            binFile.Close();
        }
        gltf.Push("buffers", std::move(buffer));
    }

    // Names are the game's raw bytes: bytes that are not valid UTF-8 become U+FFFD instead of failing the dump.
    const std::string text = gltf.root.dump(binary ? -1 : 1, '\t', false, json::error_handler_t::replace);
    if (binary)
        WriteGlb(files.Create(options.outputPath), text, gltf);
    else
        files.Write(options.outputPath, text.data(), text.size());
}
