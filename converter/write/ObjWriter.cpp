// Wavefront OBJ with its MTL: an object per mesh, vertices written once each and shared by
// position, texture vertex and normal index alike.
#include "TextureLayout.h"
#include "UniqueNames.h"
#include "WritableVertices.h"
#include "Writers.h"

#include <filesystem>

namespace fs = std::filesystem;

namespace {

// A path as one word of an MTL line: SafeName's rule, with the folders' '/' kept.
std::string SafePath(const std::string& path)
{
    std::string safe;
    size_t begin = 0;
    for (size_t slash; (slash = path.find('/', begin)) != std::string::npos; begin = slash + 1)
        safe += SafeName(path.substr(begin, slash - begin), "") + "/";
    return safe + SafeName(path.substr(begin), "texture");
}

// Text for a comment line: no control byte may end the line, nor a '\\' join it to the next.
std::string CommentText(std::string text)
{
    for (char& c : text)
        if (static_cast<unsigned char>(c) < ' ' || c == '\x7F' || c == '\\')
            c = '_';
    return text;
}

class ObjWriter final : public SceneWriter {
public:
    ObjWriter(const WriteOptions& writeOptions, OutputFiles& outputs) : options(writeOptions), files(outputs) {}
    void Finish(const ExportScene& scene, std::vector<std::string>& warnings) override;

private:
    const WriteOptions options;
    OutputFiles& files;
};

void ObjWriter::Finish(const ExportScene& scene, std::vector<std::string>& warnings)
{
    const std::vector<TextureReference> textures = PrepareTextures(scene, options, nullptr, files, warnings);

    // Material names are how the OBJ finds its materials in the MTL: each must be one of a kind.
    UniqueNames taken;
    std::vector<std::string> materialNames;
    for (const ExportMaterial& material : scene.materials)
        materialNames.push_back(taken.Make(SafeName(material.name, "material")));
    // A mesh without a material must not inherit the one before it.
    std::string plainMaterial;
    for (const ExportMesh& mesh : scene.meshes)
        if (mesh.material < 0 && plainMaterial.empty())
            plainMaterial = taken.Make("no_material");

    const fs::path output(options.outputPath);
    const std::string mtlName = SafeName(output.stem().string(), "materials") + ".mtl";
    const std::string mtlPath = (output.parent_path() / mtlName).string();
    {
        OutputFile& mtl = files.Create(mtlPath);
        mtl << "# brennic-import\n";
        for (size_t m = 0; m < scene.materials.size(); ++m) {
            // The texture is also the opacity map, as in the host's material; readers blend
            // whatever has a map_d, so only a texture with transparent pixels gets one. Only a
            // PNG is named (few readers take .dds); a texture without a PNG appears only in a comment.
            mtl << "\nnewmtl " << materialNames[m] << "\nKd 1 1 1\nd 1\n";
            if (scene.materials[m].texture >= 0) {
                const TextureReference& texture = textures[size_t(scene.materials[m].texture)];
                if (texture.png.empty()) {
                    mtl << "# no texture: " << CommentText(texture.name) << ' ' << CommentText(texture.problem) << '\n';
                    continue;
                }
                const std::string path = SafePath(texture.png);
                mtl << "map_Kd " << path << '\n';
                if (texture.alpha != TextureAlpha::Opaque)
                    mtl << "map_d " << path << '\n';
            }
        }
        if (!plainMaterial.empty())
            mtl << "\nnewmtl " << plainMaterial << "\nKd 1 1 1\nd 1\n";
        mtl.Close();
    }

    OutputFile& obj = files.Create(options.outputPath);
    obj << "# brennic-import\nmtllib " << mtlName << '\n';
    uint64_t firstVertex = 1;
    for (const ExportMesh& mesh : scene.meshes) {
        if (mesh.indices.empty() || mesh.vertices.empty())
            continue; // an object without faces holds nothing an OBJ reader keeps
        std::vector<ExportVertex> repaired;
        const std::vector<ExportVertex>& vertices = writable::Vertices(mesh, repaired, warnings);
        obj << "\no " << SafeName(mesh.name, "object") << '\n';
        for (const ExportVertex& v : vertices)
            obj << "v " << v.position[0] << ' ' << v.position[1] << ' ' << v.position[2] << '\n';
        // OBJ's texture origin is the bottom left.
        for (const ExportVertex& v : vertices)
            obj << "vt " << v.texCoord[0] << ' ' << (1.0f - v.texCoord[1]) << '\n';
        for (const ExportVertex& v : vertices)
            obj << "vn " << v.normal[0] << ' ' << v.normal[1] << ' ' << v.normal[2] << '\n';
        obj << "usemtl " << (mesh.material >= 0 ? materialNames[size_t(mesh.material)] : plainMaterial) << '\n';
        for (size_t t = 0; t + 2 < mesh.indices.size(); t += 3) {
            obj << 'f';
            for (int k = 0; k < 3; ++k) {
                const uint64_t index = firstVertex + mesh.indices[t + size_t(k)];
                obj << ' ' << index << '/' << index << '/' << index;
            }
            obj << '\n';
        }
        firstVertex += vertices.size();
    }
    obj.Close();
}

} // namespace

std::unique_ptr<SceneWriter> OpenObj(const WriteOptions& options, OutputFiles& files)
{
    return std::make_unique<ObjWriter>(options, files);
}
