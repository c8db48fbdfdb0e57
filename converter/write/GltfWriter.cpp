// glTF 2.0: one node per mesh, with one primitive each. A primitive's vertex attributes are
// interleaved in one view and its indices are in another, all in one buffer: the meshes' views
// first, in order, then the images. Each mesh's views are written as the mesh comes, while the
// next one is built; the JSON, which names every view, is written at the end.

// Each texture's image is the PNG made from the .dds, which any viewer reads: inside a .glb, or
// beside a .gltf. On request the .dds itself is offered too, through MSFT_texture_dds, to viewers
// that support it. A texture that gave no PNG is left out, and its material's extras say what it
// wanted.
#include "TextureLayout.h"
#include "WritableVertices.h"
#include "Writers.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
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
    // Where a view's bytes come from when the buffer is written: bytes as they lie, indices
    // narrowed to 16 bits, or an image waiting in the spill file. A mesh's arrays stay where
    // they are when the scene that holds it moves.
    struct Source {
        const void* bytes = nullptr;
        const uint32_t* narrowed = nullptr;
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
    // ExportVertex holds them (so they are written from it as they are, or from a repaired
    // copy: what was repaired goes to `warnings`), and its indices.
    json Primitive(const ExportMesh& mesh, std::vector<std::string>& warnings)
    {
        static_assert(sizeof(ExportVertex) == 32, "an ExportVertex is its three attributes, unpadded");
        const size_t count = mesh.vertices.size();
        const bool checked = mesh.facts.allWritable; // as they were made
        const std::vector<ExportVertex>& writable =
            checked ? mesh.vertices : writable::Vertices(mesh, repaired.emplace_back(), warnings);
        const VertexFacts bounds = checked ? mesh.facts : VertexFacts::Of(writable);
        Source vertices;
        vertices.bytes = writable.data();
        const size_t vertexView = View(count * sizeof(ExportVertex), arrayBuffer, vertices, sizeof(ExportVertex));
        const size_t position = Accessor(vertexView, offsetof(ExportVertex, position), floatComponent, count, "VEC3");
        json& positions = root["accessors"][position];
        positions["min"] = {bounds.low[0], bounds.low[1], bounds.low[2]};
        positions["max"] = {bounds.high[0], bounds.high[1], bounds.high[2]};
        const size_t normal = Accessor(vertexView, offsetof(ExportVertex, normal), floatComponent, count, "VEC3");
        const size_t texCoord = Accessor(vertexView, offsetof(ExportVertex, texCoord), floatComponent, count, "VEC2");

        // 16-bit indices when they fit; 65535 itself is reserved for primitive restart.
        const bool narrow = count <= 65535;
        Source indexSource;
        if (narrow)
            indexSource.narrowed = mesh.indices.data();
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

    // The buffer's views from the `from`th on, straight from where their bytes lie: nothing the
    // size of the buffer is held in memory. Returns the number of views written in all.
    size_t WriteViews(OutputFile& file, size_t from) const
    {
        static const char zeros[4] = {};
        std::vector<uint16_t> narrowed;
        size_t at = from == 0 ? 0 : parts[from - 1].offset + parts[from - 1].size;
        for (size_t p = from; p < parts.size(); ++p) {
            const Part& part = parts[p];
            file.Write(zeros, part.offset - at);
            if (part.source.narrowed) {
                const uint32_t* const indices = part.source.narrowed;
                const size_t count = part.size / 2;
                constexpr size_t step = 1 << 19; // a megabyte of 16-bit indices at a time
                for (size_t first = 0; first < count; first += step) {
                    narrowed.assign(indices + first, indices + std::min(count, first + step));
                    file.Write(narrowed.data(), narrowed.size() * 2);
                }
            } else if (part.source.spill) {
                part.source.spill->CopyTo(part.source.span, file);
            } else {
                file.Write(part.source.bytes, part.size);
            }
            at = part.offset + part.size;
        }
        return parts.size();
    }

private:
    struct Part {
        size_t offset, size;
        Source source;
    };

    std::deque<std::vector<ExportVertex>> repaired; // a mesh's vertices made writable, where they were not
    std::vector<Part> parts;                        // in the order of their views
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

uint64_t Padded(uint64_t size)
{
    return (size + 3) & ~uint64_t(3);
}

class GltfWriter final : public SceneWriter {
public:
    GltfWriter(const WriteOptions& writeOptions, bool glb, OutputFiles& outputs)
        : options(writeOptions), binary(glb), files(outputs)
    {
        gltf.root["asset"] = {{"version", "2.0"}, {"generator", "brennic-import"}};
    }

    // Opens the file the buffer streams into: the .bin, or the .glb past room for its JSON.
    void Expect(size_t meshes, size_t nameBytes) override
    {
        if (streamed || (binary && !options.streamGlb))
            return;
        streamed = &files.Create(binary ? options.outputPath : BinPath());
        if (binary) {
            bufferStart = JsonRoom(meshes, nameBytes);
            streamed->Seek(bufferStart);
        }
    }

    // A mesh without triangles keeps its node, without a mesh: glTF has no empty meshes.
    void Take(const ExportMesh& mesh) override
    {
        json node = {{"name", mesh.name}};
        if (!mesh.indices.empty() && !mesh.vertices.empty())
            node["mesh"] = gltf.Push(
                "meshes", {{"name", mesh.name}, {"primitives", json::array({gltf.Primitive(mesh, meshWarnings)})}});
        sceneNodes.push_back(gltf.Push("nodes", std::move(node)));
        // A .glb past 4 GiB fails at the end; its bytes need not fill the disk before then.
        if (streamed && !(binary && bufferStart + gltf.BinSize() > UINT32_MAX))
            viewsWritten = gltf.WriteViews(*streamed, viewsWritten);
    }

    void Finish(const ExportScene& scene, std::vector<std::string>& warnings) override;

private:
    std::string BinPath() const { return fs::path(options.outputPath).replace_extension(".bin").string(); }
    void WriteGlb(OutputFile& file, const std::string& text);

    // Room for the header and JSON chunk ahead of a streamed buffer, in whole 4 KiB pages so the
    // buffer starts on one. A mesh adds its node, mesh, four accessors, two views, and perhaps
    // a material, texture and image: under 1.5 KiB with its names; each name byte may be escaped
    // and appear several times. A JSON that outgrows the room is written again, exactly sized.
    static uint64_t JsonRoom(size_t meshes, size_t nameBytes)
    {
        const uint64_t room = 28 + 8192 + uint64_t(meshes) * 1536 + uint64_t(nameBytes) * 12;
        return (room + 4095) & ~uint64_t(4095);
    }

    const WriteOptions options;
    const bool binary;
    OutputFiles& files;
    GltfBuilder gltf;
    json sceneNodes = json::array();
    std::vector<std::string> meshWarnings; // after the textures' warnings, as a reader meets them
    OutputFile* streamed = nullptr;        // where the buffer goes as meshes come, once Expect opened it
    uint64_t bufferStart = 0;              // where the buffer starts in that file
    size_t viewsWritten = 0;               // of the buffer's views, to that file
};

void GltfWriter::Finish(const ExportScene& scene, std::vector<std::string>& warnings)
{
    // A file opened while the import ran was checked against what it had read by then.
    if (streamed)
        files.CheckOutput(binary ? options.outputPath : BinPath());
    // A .glb's images wait on disk past their first megabyte, not in memory, until its buffer is written.
    SpillFile spill(options.outputPath);
    const std::vector<TextureReference> textures =
        PrepareTextures(scene, options, binary ? &spill : nullptr, files, warnings);
    warnings.insert(warnings.end(), meshWarnings.begin(), meshWarnings.end());

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

    if (gltf.BinSize()) {
        json buffer = {{"byteLength", gltf.BinSize()}};
        if (!binary) {
            buffer["uri"] = UriReference(fs::path(BinPath()).filename().string());
            OutputFile& binFile = streamed ? *streamed : files.Create(BinPath());
            gltf.WriteViews(binFile, viewsWritten);
            binFile.Close();
        }
        gltf.Push("buffers", std::move(buffer));
    }

    // Names are the game's raw bytes: bytes that are not valid UTF-8 become U+FFFD instead of failing the dump.
    const std::string text = gltf.root.dump(binary ? -1 : 1, '\t', false, json::error_handler_t::replace);
    if (binary)
        WriteGlb(streamed ? *streamed : files.Create(options.outputPath), text);
    else
        files.Write(options.outputPath, text.data(), text.size());
}

// The header, JSON chunk and BIN chunk. A streamed buffer stays where it is when the JSON fits
// the room before it, padded with spaces to fill it; otherwise the file is written again from
// its start, as an unstreamed one is.
void GltfWriter::WriteGlb(OutputFile& file, const std::string& text)
{
    const uint64_t binSize = gltf.BinSize();
    const bool inPlace = streamed && binSize && 28 + Padded(text.size()) <= bufferStart;
    const uint64_t jsonChunk = inPlace ? bufferStart - 28 : Padded(text.size());
    const uint64_t total = 12 + 8 + jsonChunk + (binSize ? 8 + Padded(binSize) : 0);
    if (total > UINT32_MAX)
        throw std::runtime_error("the scene is too large for a .glb file (4 GiB at most); write .gltf instead");
    const uint32_t header[5] = {0x46546C67 /* glTF */, 2, uint32_t(total), uint32_t(jsonChunk), 0x4E4F534A /* JSON */};
    const uint32_t binHeader[2] = {uint32_t(Padded(binSize)), 0x004E4942 /* BIN */};
    static const char zeros[3] = {0, 0, 0};

    if (inPlace) {
        gltf.WriteViews(file, viewsWritten); // the images
        file.Write(zeros, Padded(binSize) - binSize);
        file.Seek(0);
    } else if (streamed) {
        file.Seek(0);
    }
    file.Write(header, sizeof header);
    file.Write(text.data(), text.size());
    for (uint64_t spaces = jsonChunk - text.size(); spaces > 0;) {
        static const std::string blank(4096, ' ');
        const size_t step = size_t(std::min<uint64_t>(spaces, blank.size()));
        file.Write(blank.data(), step);
        spaces -= step;
    }
    if (binSize) {
        file.Write(binHeader, sizeof binHeader);
        if (!inPlace) {
            gltf.WriteViews(file, 0);
            file.Write(zeros, Padded(binSize) - binSize);
        }
    }
    file.Close();
}

} // namespace

std::unique_ptr<SceneWriter> OpenGltf(const WriteOptions& options, bool binary, OutputFiles& files)
{
    return std::make_unique<GltfWriter>(options, binary, files);
}
