// Decoding a .dds file's top level: the checks before allocating, then the format's decoder.

#include "DdsFormat.h"
#include "Parallel.h"

#include <algorithm>

namespace dds {
namespace {

constexpr uint64_t partBytes = uint64_t{1} << 20;

} // namespace

bool Decode(const uint8_t* bytes, size_t size, Image& image, std::string& problem, std::vector<std::string>& notes,
            uint64_t maxPixels, uint64_t fileSize, unsigned threads)
{
    detail::Layout layout;
    if (!detail::ReadLayout(bytes, size, std::max<uint64_t>(size, fileSize), layout, problem))
        return false;
    const uint32_t width = layout.header.width, height = layout.header.height;
    const uint64_t pixels = uint64_t{width} * height;
    if (pixels > maxPixels || pixels > SIZE_MAX / 4) {
        problem = "the image is too large: " + std::to_string(width) + " x " + std::to_string(height);
        return false;
    }
    const uint64_t needed = detail::TopLevelBytes(layout.format, width, height);
    const uint64_t held = size - layout.dataOffset;
    if (needed > held) {
        problem = "the file is truncated: its " + std::to_string(width) + " x " + std::to_string(height) + " " +
                  layout.format.name + " image needs " + std::to_string(needed) + " bytes of pixels, it holds " +
                  std::to_string(held);
        return false;
    }

    image.width = width;
    image.height = height;
    image.rgba.assign(static_cast<size_t>(pixels) * 4, 0);
    // Parts of about a MiB of pixels, decoded on the threads given.
    const uint8_t* data = bytes + layout.dataOffset;
    const bool masked = layout.format.codec == detail::Codec::Masked;
    const uint32_t pixelRowsARow = masked ? 1 : 4;
    const auto rows = uint32_t((uint64_t{height} + pixelRowsARow - 1) / pixelRowsARow);
    const uint32_t rowsAPart =
        uint32_t(std::clamp<uint64_t>(partBytes / (uint64_t{width} * pixelRowsARow * 4), 1, rows));
    detail::RunParts(size_t((uint64_t{rows} + rowsAPart - 1) / rowsAPart), threads, [&](size_t part, unsigned) {
        const auto first = uint32_t(part * rowsAPart);
        const auto end = uint32_t(std::min<uint64_t>(rows, uint64_t{first} + rowsAPart));
        if (masked)
            detail::DecodeMasked(data, layout.format.masks, image, first, end);
        else
            detail::DecodeBlocks(data, layout.format.codec, image, first, end);
    });

    if (!layout.note.empty())
        notes.push_back(layout.note);
    if (layout.header.cubeMap)
        notes.push_back("a cube map: its first face is used");
    else if (layout.arraySize > 1)
        notes.push_back("an array of " + std::to_string(layout.arraySize) + " textures: the first is used");
    if (layout.volume)
        notes.push_back("a volume texture: its first slice is used");
    return true;
}

Alpha ClassifyAlpha(const Image& image)
{
    bool transparent = false;
    for (size_t i = 3; i < image.rgba.size(); i += 4) {
        const uint8_t alpha = image.rgba[i];
        if (alpha == 0)
            transparent = true;
        else if (alpha != 255)
            return Alpha::Blended;
    }
    return transparent ? Alpha::Cutout : Alpha::Opaque;
}

} // namespace dds
