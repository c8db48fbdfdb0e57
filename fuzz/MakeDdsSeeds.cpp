// Writes the seed corpus for fuzz_dds: a small file of every encoding our DDS writer has, under
// legacy and DX10 headers, with mipmaps and as a cube map, and a PNG or two.
//
//   brennic-fuzz-dds-seeds DIR

#include "Dds.h"
#include "DdsWriter.h"

#include <cstdio>
#include <exception>
#include <string>

using namespace modelwriter;

namespace {

RgbaImage Picture(uint32_t width, uint32_t height)
{
    RgbaImage image{width, height, {}};
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            for (const uint32_t value : {x * 40, y * 40, (x + y) * 20, x == y ? 0u : 255u})
                image.rgba.push_back(uint8_t(value));
    return image;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    try {
        const std::string folder = argv[1];
        const RgbaImage picture = Picture(6, 5);
        const struct {
            const char* name;
            DdsEncoding encoding;
            bool dx10;
        } encodings[] = {
            {"a8r8g8b8", DdsEncoding::A8R8G8B8, false},
            {"x8r8g8b8", DdsEncoding::X8R8G8B8, false},
            {"r8g8b8", DdsEncoding::R8G8B8, false},
            {"a8b8g8r8", DdsEncoding::A8B8G8R8, false},
            {"r5g6b5", DdsEncoding::R5G6B5, false},
            {"a1r5g5b5", DdsEncoding::A1R5G5B5, false},
            {"a4r4g4b4", DdsEncoding::A4R4G4B4, false},
            {"l8", DdsEncoding::L8, false},
            {"a8", DdsEncoding::A8, false},
            {"a8l8", DdsEncoding::A8L8, false},
            {"dxt1", DdsEncoding::BC1, false},
            {"dxt3", DdsEncoding::BC2, false},
            {"dxt5", DdsEncoding::BC3, false},
            {"ati1", DdsEncoding::BC4, false},
            {"ati2", DdsEncoding::BC5, false},
            {"bc1-dx10", DdsEncoding::BC1, true},
            {"bc7-dx10", DdsEncoding::BC7, true},
            {"b8g8r8a8-dx10", DdsEncoding::A8R8G8B8, true},
        };
        for (const auto& e : encodings) {
            DdsSpec spec;
            spec.encoding = e.encoding;
            spec.dx10 = e.dx10;
            WriteFile(folder + "/" + e.name + ".dds", WriteDds(picture, spec));
        }
        for (int mode = 0; mode < 8; ++mode) {
            DdsSpec spec;
            spec.encoding = DdsEncoding::BC7;
            spec.dx10 = true;
            WriteFile(folder + "/bc7-mode" + std::to_string(mode) + ".dds",
                      WriteDdsData(8, 4, spec, RandomDdsBlocks(DdsEncoding::BC7, 8, 4, uint32_t(mode), mode)));
        }
        DdsSpec mipmapped;
        mipmapped.encoding = DdsEncoding::BC1;
        mipmapped.mipLevels = 3;
        WriteFile(folder + "/dxt1-mipmaps.dds", WriteDds(Picture(8, 8), mipmapped));
        DdsSpec cube;
        cube.encoding = DdsEncoding::BC3;
        cube.dx10 = true;
        cube.cubeMap = true;
        WriteFile(folder + "/bc3-cube.dds", WriteDds(Picture(4, 4), cube));
        // Grey headers that misstate their pixels: read the one way that fits the file.
        DdsSpec overstated;
        overstated.encoding = DdsEncoding::L8;
        overstated.headerBits = 32;
        WriteFile(folder + "/l8-says-32-bits.dds", WriteDds(picture, overstated));
        DdsSpec maskedOut;
        maskedOut.encoding = DdsEncoding::A8L8;
        maskedOut.headerMasks = {0xFF, 0xFF, 0xFF, 0xFF000000};
        WriteFile(folder + "/a8l8-alpha-mask-outside.dds", WriteDds(picture, maskedOut));

        const dds::Image image{picture.width, picture.height, picture.rgba};
        WriteFile(folder + "/rgba.png", dds::EncodePng(image, true));
        WriteFile(folder + "/rgb.png", dds::EncodePng(image, false));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "brennic-fuzz-dds-seeds: %s\n", error.what());
        return 1;
    }
    return 0;
}
