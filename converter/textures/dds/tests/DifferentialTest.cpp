// Our decoder against OpenImageIO's, run as `oiiotool` on the same files: pictures of every
// encoding, and random blocks of BC1 to BC5 and of each BC7 mode.
//
// oiiotool reads BC4, L8 and A8 as one grey channel Y and BC5 as R and G; each case names how its
// output maps to RGBA. It reads no DX10 header but those of BC4 to BC7 UNORM, so DX10 BC1, sRGB
// BC7 and the DX10 uncompressed formats go to it as the same bytes under the legacy (or UNORM)
// header of the same layout.
//
// Rounding: BC1 to BC3 compare within one unit a channel, since oiiotool widens 5:6:5 endpoints
// by rounding (3 of 31 is 25) where we repeat the bits (24, as its R5G6B5 and most decoders do),
// and interpolation rounding is left open by the formats; BC4 and BC5 compare within one unit for
// interpolation. Everything else, BC7 included, compares exactly.

#include "TestPictures.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

using modelwriter::Bytes;
using modelwriter::DdsEncoding;
using modelwriter::DdsSpec;

struct OracleCase {
    std::string name;
    Bytes file;
    Bytes oracleFile;     // what oiiotool reads: the same bytes, perhaps under another header
    std::string channels; // oiiotool --ch: its channels as R, G, B, A
    int tolerance;        // 1 where the format leaves the rounding of interpolation open
};

void PrintTo(const OracleCase& c, std::ostream* out)
{
    *out << c.name;
}

DdsSpec Spec(DdsEncoding encoding, bool dx10 = false, bool srgb = false)
{
    DdsSpec spec;
    spec.encoding = encoding;
    spec.dx10 = dx10;
    spec.srgb = srgb;
    return spec;
}

const char* const rgba = "R,G,B,A";
const char* const rgb = "R,G,B,A=1.0";
const char* const grey = "R=Y,G=Y,B=Y,A=1.0";

std::vector<OracleCase> Cases()
{
    struct Picture {
        const char* name;
        DdsSpec spec;
        ddstest::Channels channels;
        const char* oiio;
    };
    const ddstest::Channels pairs565{5, 6, 5, 8, false, true};
    const DdsSpec dx10Bgra = Spec(DdsEncoding::A8R8G8B8, true), dx10Rgba = Spec(DdsEncoding::A8B8G8R8, true);
    const modelwriter::RgbaImage picture = ddstest::Picture(13, 11, {}, 5);
    const Bytes bgra = modelwriter::EncodeDdsLevel(picture, DdsEncoding::A8R8G8B8);
    const Bytes rgbaBytes = modelwriter::EncodeDdsLevel(picture, DdsEncoding::A8B8G8R8);
    std::vector<OracleCase> cases = {
        {"B8G8R8A8Dx10", modelwriter::WriteDdsData(13, 11, dx10Bgra, bgra),
         modelwriter::WriteDdsData(13, 11, Spec(DdsEncoding::A8R8G8B8), bgra), rgba, 0},
        {"R8G8B8A8Dx10", modelwriter::WriteDdsData(13, 11, dx10Rgba, rgbaBytes),
         modelwriter::WriteDdsData(13, 11, Spec(DdsEncoding::A8B8G8R8), rgbaBytes), rgba, 0},
    };
    const Picture pictures[] = {
        {"A8R8G8B8", Spec(DdsEncoding::A8R8G8B8), {}, rgba},
        {"X8R8G8B8", Spec(DdsEncoding::X8R8G8B8), {8, 8, 8, 0}, rgb},
        {"R8G8B8", Spec(DdsEncoding::R8G8B8), {8, 8, 8, 0}, rgb},
        {"A8B8G8R8", Spec(DdsEncoding::A8B8G8R8), {}, rgba},
        {"R5G6B5", Spec(DdsEncoding::R5G6B5), {}, rgb},
        {"A1R5G5B5", Spec(DdsEncoding::A1R5G5B5), {}, rgba},
        {"A4R4G4B4", Spec(DdsEncoding::A4R4G4B4), {}, rgba},
        {"L8", Spec(DdsEncoding::L8), {}, grey},
        {"A8", Spec(DdsEncoding::A8), {}, "R=0.0,G=0.0,B=0.0,A=Y"},
        {"A8L8", Spec(DdsEncoding::A8L8), {}, "R=Y,G=Y,B=Y,A=A"},
        {"Dxt1", Spec(DdsEncoding::BC1), {5, 6, 5, 0, false, true, true}, rgba},
        {"Dxt3", Spec(DdsEncoding::BC2), pairs565, rgba},
        {"Dxt5", Spec(DdsEncoding::BC3), pairs565, rgba},
        {"Bc7", Spec(DdsEncoding::BC7, true), {}, rgba},
    };
    for (const Picture& p : pictures) {
        const Bytes file = modelwriter::WriteDds(ddstest::Picture(13, 11, p.channels, 5), p.spec);
        const bool bc1To3 = p.spec.encoding >= DdsEncoding::BC1 && p.spec.encoding <= DdsEncoding::BC3;
        cases.push_back({p.name, file, file, p.oiio, bc1To3 ? 1 : 0});
    }

    struct Random {
        const char* name;
        DdsSpec spec;
        const char* oiio;
        int tolerance;
        DdsSpec oracleSpec; // a header oiiotool reads, for the same blocks
    };
    const Random randoms[] = {
        {"RandomBc1", Spec(DdsEncoding::BC1), rgba, 1, Spec(DdsEncoding::BC1)},
        {"RandomBc2", Spec(DdsEncoding::BC2), rgba, 1, Spec(DdsEncoding::BC2)},
        {"RandomBc3", Spec(DdsEncoding::BC3), rgba, 1, Spec(DdsEncoding::BC3)},
        {"RandomBc4", Spec(DdsEncoding::BC4), grey, 1, Spec(DdsEncoding::BC4)},
        {"RandomBc5", Spec(DdsEncoding::BC5), "R,G,B=0.0,A=1.0", 1, Spec(DdsEncoding::BC5)},
        {"RandomBc1Dx10", Spec(DdsEncoding::BC1, true), rgba, 1, Spec(DdsEncoding::BC1)},
        {"RandomBc7AnyMode", Spec(DdsEncoding::BC7, true), rgba, 0, Spec(DdsEncoding::BC7, true)},
        {"RandomBc7Srgb", Spec(DdsEncoding::BC7, true, true), rgba, 0, Spec(DdsEncoding::BC7, true)},
    };
    for (const Random& r : randoms) {
        const Bytes blocks = modelwriter::RandomDdsBlocks(r.spec.encoding, 64, 60, 3);
        cases.push_back({r.name, modelwriter::WriteDdsData(64, 60, r.spec, blocks),
                         modelwriter::WriteDdsData(64, 60, r.oracleSpec, blocks), r.oiio, r.tolerance});
    }
    for (int mode = 0; mode < 8; ++mode) {
        const DdsSpec spec = Spec(DdsEncoding::BC7, true);
        const Bytes file = modelwriter::WriteDdsData(
            64, 64, spec, modelwriter::RandomDdsBlocks(DdsEncoding::BC7, 64, 64, 10 + mode, mode));
        cases.push_back({"RandomBc7Mode" + std::to_string(mode), file, file, rgba, 0});
    }
    return cases;
}

std::string Quoted(const std::string& text)
{
    return "'" + text + "'";
}

class AgainstOiiotool : public testing::TestWithParam<OracleCase> {};

TEST_P(AgainstOiiotool, SamePixels)
{
    const OracleCase& c = GetParam();
    const std::filesystem::path folder = BRENNIC_DDS_TEST_OUTPUT;
    std::filesystem::create_directories(folder);
    const std::string dds = (folder / (c.name + ".dds")).string(), png = (folder / (c.name + ".png")).string();
    modelwriter::WriteFile(dds, c.oracleFile);
    std::filesystem::remove(png);
    const std::string command = std::string(BRENNIC_OIIOTOOL) + " " + Quoted(dds) + " --ch " + Quoted(c.channels) +
                                " --attrib oiio:UnassociatedAlpha 1 -d uint8 -o " + Quoted(png); // alpha as stored
    ASSERT_EQ(std::system(command.c_str()), 0) << command;

    std::ifstream in(png, std::ios::binary);
    const std::vector<uint8_t> pngBytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    dds::Image theirs, ours;
    std::string problem;
    std::vector<std::string> notes;
    ASSERT_TRUE(dds::DecodePng(pngBytes.data(), pngBytes.size(), theirs, problem)) << problem;
    ASSERT_TRUE(dds::Decode(c.file.data(), c.file.size(), ours, problem, notes)) << problem;
    ASSERT_EQ(ours.width, theirs.width);
    ASSERT_EQ(ours.height, theirs.height);
    EXPECT_EQ(ddstest::Difference(ours.rgba, theirs.rgba, ours.width, c.tolerance), "");
}

INSTANTIATE_TEST_SUITE_P(Dds, AgainstOiiotool, testing::ValuesIn(Cases()),
                         [](const testing::TestParamInfo<OracleCase>& test) { return test.param.name; });

} // namespace
