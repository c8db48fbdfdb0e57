#pragma once

// Writes DirectDraw Surface (.dds) textures for tests and fuzz seeds: every uncompressed layout
// we read, and BC1 to BC5 and BC7 through simple block encoders (endpoints from the block's
// darkest and brightest pixels), with a legacy or a DX10 header, mipmaps and cube maps. Random
// blocks for comparisons with other decoders are written through WriteDdsData.

#include "ModelWriter.h"

#include <array>
#include <cstdint>
#include <vector>

namespace modelwriter {

struct RgbaImage {
    uint32_t width = 0, height = 0;
    Bytes rgba; // rows top to bottom
};

// Legacy names; with a DX10 header the same memory layout takes its DXGI name (A8R8G8B8 is
// B8G8R8A8, A8B8G8R8 is R8G8B8A8, L8 is R8, R5G6B5 is B5G6R5 ...).
enum class DdsEncoding {
    A8R8G8B8,
    X8R8G8B8,
    R8G8B8,
    A8B8G8R8,
    R5G6B5,
    A1R5G5B5,
    A4R4G4B4,
    L8,
    A8,
    A8L8,
    BC1,
    BC2,
    BC3,
    BC4,
    BC5,
    BC7,
};

struct DdsSpec {
    DdsEncoding encoding = DdsEncoding::A8R8G8B8;
    bool dx10 = false;   // a DX10 extension naming the DXGI format (BC7 needs it)
    bool srgb = false;   // the sRGB variant of the DXGI format
    uint32_t fourCC = 0; // for BC4 and BC5 under a legacy header: 0 for ATI1/ATI2, else e.g. DdsFourCC("BC4U")
    uint32_t mipLevels = 1;
    bool cubeMap = false;
    // A legacy uncompressed header that misstates its pixels, as some writers' grey ones do: the
    // bit count to write when not 0, and the masks (red, green, blue, alpha) when any is not 0.
    // The pixels are still written in the real encoding.
    uint32_t headerBits = 0;
    std::array<uint32_t, 4> headerMasks{};
};

constexpr uint32_t DdsFourCC(const char (&code)[5])
{
    return uint32_t(uint8_t(code[0])) | uint32_t(uint8_t(code[1])) << 8 | uint32_t(uint8_t(code[2])) << 16 |
           uint32_t(uint8_t(code[3])) << 24;
}

// "DDS ", the 124-byte header and, for DX10, its 20-byte extension.
Bytes DdsFileHeader(uint32_t width, uint32_t height, const DdsSpec& spec);
// One level's pixel bytes in the encoding.
Bytes EncodeDdsLevel(const RgbaImage& image, DdsEncoding encoding);
size_t DdsLevelBytes(DdsEncoding encoding, uint32_t width, uint32_t height);
// A whole file: each face (six copies of `image` for a cube map) with its mip chain, each level
// halved by averaging 2 x 2 pixels.
Bytes WriteDds(const RgbaImage& image, const DdsSpec& spec);
Bytes WriteDdsFaces(const std::vector<RgbaImage>& faces, const DdsSpec& spec);
// The header followed by `data` as it is: for raw blocks and damaged files.
Bytes WriteDdsData(uint32_t width, uint32_t height, const DdsSpec& spec, const Bytes& data);
// The top level's worth of random bytes; for BC7, every block forced to `bc7Mode` (0 to 7) when
// it is not negative.
Bytes RandomDdsBlocks(DdsEncoding encoding, uint32_t width, uint32_t height, uint32_t seed, int bc7Mode = -1);

} // namespace modelwriter
