#pragma once

// What an output refers to for each of the scene's textures: the .dds where it lies (or its
// copy beside the output), and for glTF a PNG decoded from it, which every viewer can show.

#include "Writers.h"

#include <string>
#include <vector>

// The texture is also the material's opacity map, so its alpha decides how it is blended.
enum class TextureAlpha {
    Opaque,  // every alpha 255, or no PNG was made
    Cutout,  // alpha only 0 and 255 (as DXT1's one-bit alpha): a mask needs no sorting
    Blended, // any alpha in between
};

struct TextureReference {
    std::string dds; // relative to the output's folder, forward slashes
    std::string png; // likewise; empty when no PNG was made
    TextureAlpha alpha = TextureAlpha::Opaque;
};

// One reference per scene texture, in order. Copies and PNGs are added to `files`. A texture
// that is missing or cannot be decoded keeps its .dds reference, with a warning.
std::vector<TextureReference> PrepareTextures(const ExportScene& scene, const WriteOptions& options, bool pngFallback,
                                              OutputFiles& files, std::vector<std::string>& warnings);

// `path` relative to `folder`, with forward slashes; both made absolute first.
std::string RelativePath(const std::string& path, const std::string& folder);
