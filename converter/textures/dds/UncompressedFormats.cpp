// Uncompressed pixels: each channel picked out of the pixel word by its mask and scaled to 8 bits.

#include "DdsFormat.h"

#include <array>

namespace dds::detail {
namespace {

// One channel's mask. Fields of up to 8 bits widen by repeating their bits below them, as BC1
// widens its 5:6:5 endpoints (so R5G6B5's 24 is 198); wider ones round to the nearest level.
class Channel {
public:
    Channel(uint32_t channelMask, uint8_t missingValue) : mask(channelMask), missing(missingValue)
    {
        if (mask == 0)
            return;
        while (((mask >> shift) & 1) == 0)
            ++shift;
        max = mask >> shift;
        while ((uint64_t{max} >> bits) != 0) // a full-word mask has 32
            ++bits;
        if (max <= 255)
            for (uint32_t v = 0; v <= max; ++v)
                table[v] = Scale(v);
    }

    uint8_t operator()(uint32_t pixel) const
    {
        if (mask == 0)
            return missing;
        const uint32_t v = (pixel & mask) >> shift;
        return max <= 255 ? table[v] : Scale(v);
    }

private:
    uint8_t Scale(uint32_t v) const
    {
        if (max != (uint64_t{1} << bits) - 1 || bits > 8) // wider, or a mask with holes
            return uint8_t((uint64_t{v} * 255 + max / 2) / max);
        uint32_t wide = v << (8 - bits);
        for (uint32_t filled = bits; filled < 8; filled += bits)
            wide |= v << (8 - bits) >> filled;
        return uint8_t(wide);
    }

    uint32_t mask;
    uint8_t missing;
    uint32_t shift = 0, max = 0, bits = 0;
    std::array<uint8_t, 256> table{};
};

} // namespace

void DecodeMasked(const uint8_t* data, const Masks& masks, Image& image, uint32_t firstRow, uint32_t endRow)
{
    const Channel red(masks.red, 0), green(masks.green, 0), blue(masks.blue, 0), alpha(masks.alpha, 255);
    const uint32_t step = masks.bytesPerPixel;
    const size_t count = size_t{image.width} * (endRow - firstRow);
    data += size_t{image.width} * firstRow * step;
    uint8_t* out = image.rgba.data() + size_t{image.width} * firstRow * 4;
    for (size_t i = 0; i < count; ++i, data += step, out += 4) {
        uint32_t pixel = 0;
        for (uint32_t b = 0; b < step; ++b)
            pixel |= uint32_t{data[b]} << (8 * b);
        out[0] = red(pixel);
        out[1] = masks.luminance ? out[0] : green(pixel);
        out[2] = masks.luminance ? out[0] : blue(pixel);
        out[3] = alpha(pixel);
    }
}

} // namespace dds::detail
