// Decoding a .dds file's top level: the checks before allocating, then the format's decoder.

#include "DdsFormat.h"

#include <algorithm>

namespace dds {

bool Decode(const uint8_t* bytes, size_t size, Image& image, std::string& problem, std::vector<std::string>& notes,
            uint64_t maxPixels, uint64_t fileSize)
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
    const uint8_t* data = bytes + layout.dataOffset;
    if (layout.format.codec == detail::Codec::Masked)
        detail::DecodeMasked(data, layout.format.masks, image);
    else
        detail::DecodeBlocks(data, layout.format.codec, image);

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
