#pragma once

// Where an output's textures go: PNGs in `<stem>_textures/` beside a .gltf or OBJ (or into a
// .glb's spill file), copies of the .dds beside the output on request, each written as soon as
// it is made.

#include "ExportScene.h"
#include "OutputFiles.h"
#include "SpillFile.h"
#include "TextureCache.h"
#include "Writers.h"

#include <string>
#include <vector>

struct TextureReference {
    std::string name;    // as the model names it, '/' between folders (without the size the plug-in added)
    std::string dds;     // where the .dds lies (or its copy), relative to the output's folder, '/'
    std::string png;     // the PNG written beside the output, likewise; empty when embedded or none
    bool hasPng = false; // false when no PNG could be made
    SpillSpan pngSpan;   // where an embedded PNG waits in the output's spill file
    SpillSpan ddsSpan;   // likewise the .dds, only when the output embeds the .dds itself
    TextureAlpha alpha = TextureAlpha::Opaque;
    std::string problem; // why there is no PNG, in words
};

// One reference per scene texture, in order. With `embed`, each PNG (and with keepDds each .dds)
// is appended to the spill file `embed`; else PNGs go in `<stem>_textures/` beside the output.
// Copies and PNGs join `files` as made. A missing or undecodable texture gets a warning, no PNG
// and untextured materials: strict readers refuse outputs naming files they cannot show.
std::vector<TextureReference> PrepareTextures(const ExportScene& scene, const WriteOptions& options, SpillFile* embed,
                                              OutputFiles& files, std::vector<std::string>& warnings);

// `path` relative to `folder`, with forward slashes; both made absolute first.
std::string RelativePath(const std::string& path, const std::string& folder);
