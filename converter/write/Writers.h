#pragma once

// The file writers: glTF 2.0 (binary .glb, or .gltf with its .bin) and OBJ with its MTL.

#include "ExportScene.h"
#include "OutputFiles.h"

#include <string>
#include <vector>

enum class OutputFormat { Glb, Gltf, Obj };

class TextureCache;

struct WriteOptions {
    std::string outputPath;           // the main file's final path
    bool copyTextures = false;        // copy each .dds beside the output (a .gltf with keepDds refers to the copy)
    bool keepDds = false;             // glTF: also offer the .dds through MSFT_texture_dds
    TextureCache* textures = nullptr; // shared by the outputs of a batch; null: a cache for this output alone
};

// Each writer adds its files to `files` (the main file last) and appends what the user should
// know (a missing texture, say) to `warnings`. Failures throw std::runtime_error.
void WriteGltf(const ExportScene& scene, const WriteOptions& options, bool binary, OutputFiles& files,
               std::vector<std::string>& warnings);
void WriteObj(const ExportScene& scene, const WriteOptions& options, OutputFiles& files,
              std::vector<std::string>& warnings);

// The output formats, the default first: what --format takes, the extension that names each,
// and its writer.
struct OutputFormatInfo {
    OutputFormat format;
    const char* name;
    const char* extension; // lower case, with its dot
    void (*write)(const ExportScene& scene, const WriteOptions& options, OutputFiles& files,
                  std::vector<std::string>& warnings);
    bool oneFile; // holds the images too: about as large as the model, so its file is made ready ahead
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
