// Block-compressed images: BC1 to BC5 (DXT1 to DXT5, ATI1, ATI2) here, BC7 in Bc7.cpp. Each
// 4x4 block decodes to 16 RGBA pixels, of which those inside the image are copied out.

#include "DdsFormat.h"

#include <algorithm>
#include <cstring>

namespace dds::detail {
namespace {

uint16_t Load16(const uint8_t* bytes)
{
    return uint16_t(bytes[0] | bytes[1] << 8);
}

uint64_t Load64(const uint8_t* bytes)
{
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = value << 8 | bytes[i];
    return value;
}

void Expand565(uint16_t c, uint8_t* rgb)
{
    const uint32_t r = c >> 11, g = (c >> 5) & 0x3F, b = c & 0x1F;
    rgb[0] = uint8_t(r << 3 | r >> 2);
    rgb[1] = uint8_t(g << 2 | g >> 4);
    rgb[2] = uint8_t(b << 3 | b >> 2);
}

// The colour half of BC1, BC2 and BC3. Only BC1 has the three-colour mode (c0 <= c1), whose
// fourth entry is transparent black; interpolation rounds to nearest.
void ColourBlock(const uint8_t* block, uint8_t* rgba, bool threeColourMode)
{
    const uint16_t c0 = Load16(block), c1 = Load16(block + 2);
    uint8_t palette[4][4] = {};
    Expand565(c0, palette[0]);
    Expand565(c1, palette[1]);
    palette[0][3] = palette[1][3] = 255;
    if (c0 > c1 || !threeColourMode) {
        for (int c = 0; c < 3; ++c) {
            palette[2][c] = uint8_t((2 * palette[0][c] + palette[1][c] + 1) / 3);
            palette[3][c] = uint8_t((palette[0][c] + 2 * palette[1][c] + 1) / 3);
        }
        palette[2][3] = palette[3][3] = 255;
    } else {
        for (int c = 0; c < 3; ++c)
            palette[2][c] = uint8_t((palette[0][c] + palette[1][c] + 1) / 2);
        palette[2][3] = 255;
    }
    uint32_t indices = uint32_t(Load16(block + 4)) | uint32_t(Load16(block + 6)) << 16;
    for (int i = 0; i < 16; ++i, indices >>= 2)
        std::memcpy(rgba + 4 * i, palette[indices & 3], 4);
}

// One channel of BC3's alpha, BC4 and BC5: two endpoints and 3-bit indices, eight levels when
// e0 > e1, else six with 0 and 255 as the last two.
void ChannelBlock(const uint8_t* block, uint8_t* rgba, int channel)
{
    const uint32_t e0 = block[0], e1 = block[1];
    uint8_t levels[8] = {uint8_t(e0), uint8_t(e1)};
    if (e0 > e1) {
        for (uint32_t i = 1; i < 7; ++i)
            levels[i + 1] = uint8_t(((7 - i) * e0 + i * e1 + 3) / 7);
    } else {
        for (uint32_t i = 1; i < 5; ++i)
            levels[i + 1] = uint8_t(((5 - i) * e0 + i * e1 + 2) / 5);
        levels[6] = 0;
        levels[7] = 255;
    }
    uint64_t indices = Load64(block) >> 16;
    for (int i = 0; i < 16; ++i, indices >>= 3)
        rgba[4 * i + channel] = levels[indices & 7];
}

void DecodeBlock(const uint8_t* block, Codec codec, uint8_t* rgba)
{
    switch (codec) {
    case Codec::Bc1: ColourBlock(block, rgba, true); break;
    case Codec::Bc2: {
        ColourBlock(block + 8, rgba, false);
        const uint64_t alpha = Load64(block);
        for (int i = 0; i < 16; ++i)
            rgba[4 * i + 3] = uint8_t(((alpha >> (4 * i)) & 0xF) * 17);
        break;
    }
    case Codec::Bc3:
        ColourBlock(block + 8, rgba, false);
        ChannelBlock(block, rgba, 3);
        break;
    case Codec::Bc4: // a grey level, as L8
        ChannelBlock(block, rgba, 0);
        for (int i = 0; i < 16; ++i) {
            rgba[4 * i + 1] = rgba[4 * i + 2] = rgba[4 * i];
            rgba[4 * i + 3] = 255;
        }
        break;
    case Codec::Bc5: // red and green; blue 0
        ChannelBlock(block, rgba, 0);
        ChannelBlock(block + 8, rgba, 1);
        for (int i = 0; i < 16; ++i) {
            rgba[4 * i + 2] = 0;
            rgba[4 * i + 3] = 255;
        }
        break;
    case Codec::Bc7: DecodeBc7Block(block, rgba); break;
    case Codec::Masked: break;
    }
}

} // namespace

void DecodeBlocks(const uint8_t* data, Codec codec, Image& image, uint32_t firstBlockRow, uint32_t endBlockRow)
{
    const size_t blockBytes = (codec == Codec::Bc1 || codec == Codec::Bc4) ? 8 : 16;
    const uint32_t blocksWide = (image.width + 3) / 4;
    const size_t stride = size_t{image.width} * 4;
    data += size_t{firstBlockRow} * blocksWide * blockBytes;
    uint8_t block[64];
    for (uint32_t by = firstBlockRow; by < endBlockRow; ++by) {
        const uint32_t rows = std::min(4u, image.height - by * 4);
        uint8_t* top = image.rgba.data() + size_t{by} * 4 * stride;
        for (uint32_t bx = 0; bx < blocksWide; ++bx, data += blockBytes) {
            DecodeBlock(data, codec, block);
            const size_t columns = std::min(4u, image.width - bx * 4);
            for (uint32_t y = 0; y < rows; ++y)
                std::memcpy(top + y * stride + size_t{bx} * 16, block + y * 16, columns * 4);
        }
    }
}

} // namespace dds::detail
