#pragma once

// The file writers: glTF 2.0 (binary .glb, or .gltf with its .bin) and OBJ with its MTL.

#include "ExportScene.h"
#include "OutputFiles.h"

#include <memory>
#include <string>
#include <vector>

enum class OutputFormat { Glb, Gltf, Obj };

class TextureCache;

struct WriteOptions {
    std::string outputPath;           // the main file's final path
    bool copyTextures = false;        // copy each .dds beside the output (a .gltf with keepDds refers to the copy)
    bool keepDds = false;             // glTF: also offer the .dds through MSFT_texture_dds
    TextureCache* textures = nullptr; // shared by the outputs of a batch; null: a cache for this output alone
    // A .glb's buffer is written as its meshes come, after room for the JSON reckoned from what
    // the load expects; the JSON chunk is then padded with spaces to fill that room. Otherwise
    // the whole file is written at the end, exactly sized.
    bool streamGlb = false;
};

// A format's writer: it takes the scene's meshes as they are made, then the whole scene. Once
// Expect has been called, glTF writes each mesh's bytes as it takes the mesh; OBJ, whose
// names depend on the whole scene, writes everything at the end.
// Each writer adds its files to `files` (the main file last) and appends what the user should
// know (a missing texture, say) to `warnings`. Failures throw std::runtime_error.
class SceneWriter : public MeshStream {
public:
    void Expect(size_t, size_t) override {}
    void Take(const ExportMesh&) override {}
    // Writes the rest. `scene` holds the meshes Take was given, in the same order.
    virtual void Finish(const ExportScene& scene, std::vector<std::string>& warnings) = 0;
};

std::unique_ptr<SceneWriter> OpenGltf(const WriteOptions& options, bool binary, OutputFiles& files);
std::unique_ptr<SceneWriter> OpenObj(const WriteOptions& options, OutputFiles& files);

// Writes a finished scene: each mesh through Take, then Finish.
void WriteScene(SceneWriter& writer, const ExportScene& scene, std::vector<std::string>& warnings);

// The output formats, the default first: what --format takes, the extension that names each,
// and its writer.
struct OutputFormatInfo {
    OutputFormat format;
    const char* name;
    const char* extension; // lower case, with its dot
    std::unique_ptr<SceneWriter> (*open)(const WriteOptions& options, OutputFiles& files);
};
extern const OutputFormatInfo outputFormats[3];

// The table's row for `format`.
const OutputFormatInfo& FormatInfo(OutputFormat format);
// The format with this name (as --format takes it); null when there is none.
const OutputFormatInfo* FormatNamed(const std::string& name);
// The format a lower-case extension (".glb") names; null when none does.
const OutputFormatInfo* FormatOfExtension(const std::string& extension);
// "glb, gltf or obj", for help and errors.
std::string FormatNames();
