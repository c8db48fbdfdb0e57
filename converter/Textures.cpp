#include "Textures.h"

#include <Magick++.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <mutex>
#include <set>
#include <type_traits>

namespace fs = std::filesystem;

namespace {

fs::path Absolute(const std::string& path)
{
    return fs::absolute(fs::path(path)).lexically_normal();
}

// `stem + extension`, or with _2, _3... when this conversion already wrote that name there.
std::string UniqueName(std::set<std::string>& taken, const std::string& stem, const std::string& extension)
{
    std::string name = stem + extension;
    for (int n = 2; !taken.insert(name).second; ++n)
        name = stem + "_" + std::to_string(n) + extension;
    return name;
}

bool ReadWholeFile(const std::string& path, std::string& bytes)
{
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return in.good() || in.eof();
}

struct Decoded {
    Magick::Blob png;
    TextureAlpha alpha = TextureAlpha::Opaque;
};

// Throws Magick::Exception when ImageMagick cannot decode the bytes as DDS.
Decoded DecodeDds(const std::string& bytes)
{
    static std::once_flag initialised;
    std::call_once(initialised, [] { Magick::InitializeMagick(nullptr); });

    Magick::Image image;
    image.quiet(true);
    image.magick("DDS"); // named, never guessed from the bytes or a file name
    image.read(Magick::Blob(bytes.data(), bytes.size()));

    Decoded decoded;
    if (image.matte()) {
        const size_t count = image.columns() * image.rows();
        const Magick::PixelPacket* pixels = image.getConstPixels(0, 0, image.columns(), image.rows());
        static_assert(std::is_integral_v<Magick::Quantum>, "an integer build of ImageMagick");
        constexpr Magick::Quantum clear = std::numeric_limits<Magick::Quantum>::max();
        bool transparent = false, between = false;
        for (size_t i = 0; i < count && !between; ++i) {
            const Magick::Quantum opacity = pixels[i].opacity; // 0 is opaque
            if (opacity == clear)
                transparent = true;
            else if (opacity != 0)
                between = true;
        }
        decoded.alpha = between ? TextureAlpha::Blended : transparent ? TextureAlpha::Cutout : TextureAlpha::Opaque;
    }
    // 8 bits a channel, no palette, and no dates or colour chunks, so the same texture
    // always gives the same PNG.
    image.strip();
    image.defineValue("png", "exclude-chunks", "all");
    image.magick(decoded.alpha == TextureAlpha::Opaque ? "PNG24" : "PNG32");
    image.write(&decoded.png);
    return decoded;
}

// ImageMagick's reason alone, without its program name, errno text and source location.
std::string Reason(const Magick::Exception& error)
{
    const std::string text = error.what();
    const size_t start = text.find(": ") == std::string::npos ? 0 : text.find(": ") + 2;
    const size_t end = text.find_first_of("`@", start);
    std::string reason = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    while (!reason.empty() && reason.back() == ' ')
        reason.pop_back();
    return reason.empty() ? text : reason;
}

} // namespace

std::string RelativePath(const std::string& path, const std::string& folder)
{
    const fs::path relative = Absolute(path).lexically_relative(Absolute(folder));
    return (relative.empty() ? Absolute(path) : relative).generic_string();
}

std::vector<TextureReference> PrepareTextures(const ExportScene& scene, const WriteOptions& options, bool pngFallback,
                                              OutputFiles& files, std::vector<std::string>& warnings)
{
    const fs::path output = Absolute(options.outputPath);
    const fs::path folder = output.parent_path();
    // PNGs go into a folder named after the output, so outputs sharing a folder keep theirs apart.
    const std::string pngFolder = output.stem().string() + "_textures";
    std::set<std::string> copyNames, pngNames;

    std::vector<TextureReference> references;
    for (const ExportTexture& texture : scene.textures) {
        TextureReference reference;
        const fs::path source = Absolute(texture.path);
        reference.dds = RelativePath(source.string(), folder.string());
        std::string bytes;
        if (!texture.exists || !ReadWholeFile(source.string(), bytes)) {
            warnings.push_back("texture " + texture.path + (texture.exists ? " cannot be read" : " does not exist") +
                               "; the output keeps the reference to it");
            references.push_back(reference);
            continue;
        }
        if (options.copyTextures) {
            const std::string name = UniqueName(copyNames, source.stem().string(), source.extension().string());
            files.Write((folder / name).string(), bytes.data(), bytes.size());
            reference.dds = name;
        }
        if (pngFallback) {
            try {
                const Decoded decoded = DecodeDds(bytes);
                const std::string name = pngFolder + "/" + UniqueName(pngNames, source.stem().string(), ".png");
                files.Write((folder / name).string(), decoded.png.data(), decoded.png.length());
                reference.png = name;
                reference.alpha = decoded.alpha;
            } catch (const Magick::Exception& error) {
                warnings.push_back("texture " + texture.path + " cannot be decoded as DDS (" + Reason(error) +
                                   "); the output keeps the reference to it, without a PNG");
            }
        }
        references.push_back(reference);
    }
    return references;
}
