#include "TestPictures.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>

namespace {

using ddstest::Channels;
using ddstest::Difference;
using ddstest::Picture;
using modelwriter::Bytes;
using modelwriter::DdsEncoding;
using modelwriter::DdsFourCC;
using modelwriter::DdsSpec;
using testing::HasSubstr;

struct FormatCase {
    const char* name;
    DdsSpec spec;
    Channels channels;
    uint32_t width, height;
    const char* format; // as the header names it
};

template <typename Case>
std::string CaseName(const testing::TestParamInfo<Case>& test)
{
    return test.param.name;
}

constexpr Channels rgba8{};
constexpr Channels rgb8{8, 8, 8, 0};
constexpr Channels bc1Colours{5, 6, 5, 0, false, true};
constexpr Channels bc1Cutout{5, 6, 5, 0, false, true, true};

DdsSpec Spec(DdsEncoding encoding, bool dx10 = false, uint32_t mipLevels = 1)
{
    DdsSpec spec;
    spec.encoding = encoding;
    spec.dx10 = dx10;
    spec.mipLevels = mipLevels;
    return spec;
}

DdsSpec Srgb(DdsSpec spec)
{
    spec.srgb = true;
    return spec;
}

DdsSpec WithFourCC(DdsSpec spec, uint32_t fourCC)
{
    spec.fourCC = fourCC;
    return spec;
}

// One row per encoding: the picture written by our writer must decode to itself.
const FormatCase formatCases[] = {
    {"A8R8G8B8", Spec(DdsEncoding::A8R8G8B8), rgba8, 9, 5, "A8R8G8B8"},
    {"A8R8G8B8WithMipmaps", Spec(DdsEncoding::A8R8G8B8, false, 4), rgba8, 16, 8, "A8R8G8B8"},
    {"X8R8G8B8", Spec(DdsEncoding::X8R8G8B8), rgb8, 7, 3, "X8R8G8B8"},
    {"R8G8B8", Spec(DdsEncoding::R8G8B8), rgb8, 5, 5, "R8G8B8"},
    {"A8B8G8R8", Spec(DdsEncoding::A8B8G8R8), rgba8, 6, 4, "A8B8G8R8"},
    {"R5G6B5", Spec(DdsEncoding::R5G6B5), {5, 6, 5, 0}, 8, 8, "R5G6B5"},
    {"A1R5G5B5", Spec(DdsEncoding::A1R5G5B5), {5, 5, 5, 1}, 8, 3, "A1R5G5B5"},
    {"A4R4G4B4", Spec(DdsEncoding::A4R4G4B4), {4, 4, 4, 4}, 3, 8, "A4R4G4B4"},
    {"L8", Spec(DdsEncoding::L8), {8, 0, 0, 0, true}, 11, 2, "L8"},
    {"A8", Spec(DdsEncoding::A8), {0, 0, 0, 8}, 4, 4, "A8"},
    {"A8L8", Spec(DdsEncoding::A8L8), {8, 0, 0, 8, true}, 4, 9, "A8L8"},
    {"Dxt1", Spec(DdsEncoding::BC1), bc1Colours, 16, 16, "DXT1"},
    {"Dxt1OneBitAlpha", Spec(DdsEncoding::BC1), bc1Cutout, 12, 8, "DXT1"},
    {"Dxt1NonPowerOfTwo", Spec(DdsEncoding::BC1), bc1Cutout, 13, 7, "DXT1"},
    {"Dxt1WithMipmaps", Spec(DdsEncoding::BC1, false, 5), bc1Colours, 16, 16, "DXT1"},
    {"Dxt3", Spec(DdsEncoding::BC2), {5, 6, 5, 4, false, true}, 10, 6, "DXT3"},
    {"Dxt5", Spec(DdsEncoding::BC3), {5, 6, 5, 8, false, true}, 8, 12, "DXT5"},
    {"Bc4Ati1", Spec(DdsEncoding::BC4), {8, 0, 0, 0, true, true}, 9, 9, "BC4"},
    {"Bc4Bc4u", WithFourCC(Spec(DdsEncoding::BC4), DdsFourCC("BC4U")), {8, 0, 0, 0, true, true}, 8, 4, "BC4"},
    {"Bc4Dx10", Spec(DdsEncoding::BC4, true), {8, 0, 0, 0, true, true}, 5, 3, "BC4"},
    {"Bc5Ati2", Spec(DdsEncoding::BC5), {8, 8, 0, 0, false, true}, 8, 8, "BC5"},
    {"Bc5Bc5u", WithFourCC(Spec(DdsEncoding::BC5), DdsFourCC("BC5U")), {8, 8, 0, 0, false, true}, 4, 8, "BC5"},
    {"Bc5Dx10", Spec(DdsEncoding::BC5, true), {8, 8, 0, 0, false, true}, 7, 7, "BC5"},
    {"Bc7", Spec(DdsEncoding::BC7, true), {7, 7, 7, 7, false, true, false, true}, 12, 12, "BC7"},
    {"Bc7Srgb", Srgb(Spec(DdsEncoding::BC7, true)), {7, 7, 7, 7, false, true, false, true}, 6, 10, "BC7 sRGB"},
    {"Bc1Dx10", Spec(DdsEncoding::BC1, true), bc1Cutout, 8, 8, "BC1"},
    {"Bc3Dx10", Spec(DdsEncoding::BC3, true), {5, 6, 5, 8, false, true}, 8, 4, "BC3"},
    {"B8G8R8A8Dx10", Spec(DdsEncoding::A8R8G8B8, true), rgba8, 5, 6, "B8G8R8A8"},
    {"R8G8B8A8Dx10", Spec(DdsEncoding::A8B8G8R8, true), rgba8, 6, 5, "R8G8B8A8"},
    {"R8G8B8A8SrgbDx10", Srgb(Spec(DdsEncoding::A8B8G8R8, true)), rgba8, 3, 3, "R8G8B8A8 sRGB"},
};

class DecodeFormat : public testing::TestWithParam<FormatCase> {};

TEST_P(DecodeFormat, GivesBackEveryPixel)
{
    const FormatCase& c = GetParam();
    const modelwriter::RgbaImage picture = Picture(c.width, c.height, c.channels, 7);
    const Bytes file = modelwriter::WriteDds(picture, c.spec);

    dds::Header header;
    std::string problem;
    ASSERT_TRUE(dds::ReadHeader(file.data(), file.size(), header, problem)) << problem;
    EXPECT_EQ(header.format, c.format);
    EXPECT_EQ(header.width, c.width);
    EXPECT_EQ(header.height, c.height);

    dds::Image image;
    std::vector<std::string> notes;
    ASSERT_TRUE(dds::Decode(file.data(), file.size(), image, problem, notes)) << problem;
    EXPECT_TRUE(notes.empty());
    ASSERT_EQ(image.width, c.width);
    ASSERT_EQ(image.height, c.height);
    EXPECT_EQ(Difference(image.rgba, picture.rgba, c.width), "");
}

INSTANTIATE_TEST_SUITE_P(Dds, DecodeFormat, testing::ValuesIn(formatCases), CaseName<FormatCase>);

// Images of several parts (about a MiB of pixels each, in whole rows of pixels or of blocks),
// decoded on three threads: each part reads its own bytes and writes its own rows.
TEST(DecodeInParts, EveryPixelOnSeveralThreads)
{
    const FormatCase cases[] = {
        {"Dxt1", Spec(DdsEncoding::BC1), bc1Colours, 1030, 523, "DXT1"},
        {"Bc7", Spec(DdsEncoding::BC7, true), {7, 7, 7, 7, false, true, false, true}, 514, 1030, "BC7"},
        {"A8R8G8B8", Spec(DdsEncoding::A8R8G8B8), rgba8, 700, 900, "A8R8G8B8"},
        {"R8G8B8", Spec(DdsEncoding::R8G8B8), rgb8, 1000, 601, "R8G8B8"},
    };
    for (const FormatCase& c : cases) {
        SCOPED_TRACE(c.name);
        const modelwriter::RgbaImage picture = Picture(c.width, c.height, c.channels, 5);
        const Bytes file = modelwriter::WriteDds(picture, c.spec);
        dds::Image image;
        std::string problem;
        std::vector<std::string> notes;
        ASSERT_TRUE(dds::Decode(file.data(), file.size(), image, problem, notes, uint64_t{1} << 28, 0, 3)) << problem;
        EXPECT_EQ(Difference(image.rgba, picture.rgba, c.width), "");
    }
}

// Blocks whose colours the formats' documentation gives exactly, whatever the rounding.
struct BlockCase {
    const char* name;
    DdsSpec spec;
    Bytes block;
    std::vector<uint8_t> firstRow; // RGBA of the block's first four pixels
};

const BlockCase blockCases[] = {
    {"Bc1FourColoursInterpolateThirds",
     Spec(DdsEncoding::BC1),
     {0xFF, 0xFF, 0, 0, 0xE4, 0xE4, 0xE4, 0xE4},
     {255, 255, 255, 255, 0, 0, 0, 255, 170, 170, 170, 255, 85, 85, 85, 255}},
    {"Bc1ThreeColoursEndInTransparentBlack",
     Spec(DdsEncoding::BC1),
     {0, 0, 0, 0x10, 0xE4, 0xE4, 0xE4, 0xE4},
     {0, 0, 0, 255, 16, 0, 0, 255, 8, 0, 0, 255, 0, 0, 0, 0}},
    {"Bc2AlphaIsExplicit",
     Spec(DdsEncoding::BC2),
     {0x10, 0xF5, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0},
     {255, 255, 255, 0, 255, 255, 255, 17, 255, 255, 255, 85, 255, 255, 255, 255}},
    {"Bc4EightLevels",
     Spec(DdsEncoding::BC4),
     {210, 0, 0b00'010'001, 0b1011, 0, 0, 0, 0},
     {0, 0, 0, 255, 180, 180, 180, 255, 120, 120, 120, 255, 90, 90, 90, 255}},
    {"Bc4SixLevelsThenZeroAndFull",
     Spec(DdsEncoding::BC4),
     {0, 250, 0b11'111'000, 0b1000, 0, 0, 0, 0},
     {0, 0, 0, 255, 255, 255, 255, 255, 100, 100, 100, 255, 150, 150, 150, 255}},
    {"Bc7ReservedModeIsTransparentBlack",
     Spec(DdsEncoding::BC7, true),
     {0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
     {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
};

class DecodeBlock : public testing::TestWithParam<BlockCase> {};

TEST_P(DecodeBlock, MatchesTheDocumentedPalette)
{
    const BlockCase& c = GetParam();
    const Bytes file = modelwriter::WriteDdsData(4, 1, c.spec, c.block);
    dds::Image image;
    std::string problem;
    std::vector<std::string> notes;
    ASSERT_TRUE(dds::Decode(file.data(), file.size(), image, problem, notes)) << problem;
    EXPECT_EQ(image.rgba, c.firstRow);
}

INSTANTIATE_TEST_SUITE_P(Dds, DecodeBlock, testing::ValuesIn(blockCases), CaseName<BlockCase>);

std::vector<modelwriter::RgbaImage> SixFaces()
{
    std::vector<modelwriter::RgbaImage> faces;
    for (uint32_t face = 0; face < 6; ++face)
        faces.push_back(Picture(8, 8, bc1Colours, 100 + face));
    return faces;
}

TEST(DecodeCubeMap, GivesTheFirstFaceWithANote)
{
    for (const bool dx10 : {false, true}) {
        DdsSpec spec = Spec(DdsEncoding::BC1, dx10, 4);
        spec.cubeMap = true;
        const std::vector<modelwriter::RgbaImage> faces = SixFaces();
        const Bytes file = modelwriter::WriteDdsFaces(faces, spec);
        dds::Header header;
        dds::Image image;
        std::string problem;
        std::vector<std::string> notes;
        ASSERT_TRUE(dds::ReadHeader(file.data(), file.size(), header, problem)) << problem;
        EXPECT_TRUE(header.cubeMap);
        ASSERT_TRUE(dds::Decode(file.data(), file.size(), image, problem, notes)) << problem;
        EXPECT_EQ(Difference(image.rgba, faces[0].rgba, 8), "");
        EXPECT_THAT(notes, testing::ElementsAre("a cube map: its first face is used"));
    }
}

// A legacy header that misstates its pixels: `bits` a pixel when not 0, `masks` when given.
DdsSpec Misstated(DdsEncoding encoding, uint32_t bits, std::array<uint32_t, 4> masks = {}, uint32_t mipLevels = 1,
                  bool cubeMap = false)
{
    DdsSpec spec = Spec(encoding, false, mipLevels);
    spec.headerBits = bits;
    spec.headerMasks = masks;
    spec.cubeMap = cubeMap;
    return spec;
}

constexpr Channels grey{8, 0, 0, 0, true};
constexpr Channels greyAlpha{8, 0, 0, 8, true};
constexpr std::array<uint32_t, 4> topByteMasks = {0xFF000000, 0xFF000000, 0xFF000000, 0};

// Grey files whose header misstates their pixels, as some writers' do, read the one way that
// fits the whole file's size exactly.
struct MisstatedCase {
    const char* name;
    DdsSpec spec;
    Channels channels;
    uint32_t width, height;
    const char* format; // as read
    std::vector<std::string> notes;
};

const MisstatedCase misstatedCases[] = {
    {"L8Says32Bits",
     Misstated(DdsEncoding::L8, 32),
     grey,
     5,
     3,
     "L8",
     {"the header says 32 bits a pixel, but the file holds 8: read as L8"}},
    {"L8Says16Bits",
     Misstated(DdsEncoding::L8, 16),
     grey,
     3,
     5,
     "L8",
     {"the header says 16 bits a pixel, but the file holds 8: read as L8"}},
    {"A8L8Says32Bits",
     Misstated(DdsEncoding::A8L8, 32),
     greyAlpha,
     6,
     2,
     "A8L8",
     {"the header says 32 bits a pixel, but the file holds 16: read as A8L8"}},
    {"L8MasksPastThePixel",
     Misstated(DdsEncoding::L8, 0, topByteMasks),
     grey,
     4,
     3,
     "L8",
     {"the header's channel masks lie outside its 8-bit pixels: read as L8"}},
    {"A8L8AlphaMaskPastThePixel",
     Misstated(DdsEncoding::A8L8, 0, {0xFF, 0xFF, 0xFF, 0xFF000000}),
     greyAlpha,
     3,
     4,
     "A8L8",
     {"the header's channel masks lie outside its 16-bit pixels: read as A8L8"}},
    {"L8Says32BitsWithMipmaps",
     Misstated(DdsEncoding::L8, 32, {}, 4),
     grey,
     8,
     8,
     "L8",
     {"the header says 32 bits a pixel, but the file holds 8: read as L8"}},
    {"A8L8Says32BitsCubeMap",
     Misstated(DdsEncoding::A8L8, 32, {}, 2, true),
     greyAlpha,
     4,
     4,
     "A8L8",
     {"the header says 32 bits a pixel, but the file holds 16: read as A8L8", "a cube map: its first face is used"}},
};

class DecodeMisstatedGrey : public testing::TestWithParam<MisstatedCase> {};

TEST_P(DecodeMisstatedGrey, ReadsTheOneWayThatFitsWithANote)
{
    const MisstatedCase& c = GetParam();
    const modelwriter::RgbaImage picture = Picture(c.width, c.height, c.channels, 11);
    const Bytes file = modelwriter::WriteDds(picture, c.spec);

    dds::Header header;
    dds::Image image;
    std::string problem;
    std::vector<std::string> notes;
    ASSERT_TRUE(dds::ReadHeader(file.data(), file.size(), header, problem)) << problem;
    EXPECT_EQ(header.format, c.format);
    ASSERT_TRUE(dds::Decode(file.data(), file.size(), image, problem, notes)) << problem;
    EXPECT_EQ(Difference(image.rgba, picture.rgba, c.width), "");
    EXPECT_EQ(notes, c.notes);

    // As the converter reads a texture: the header alone, then the bytes up to the top level's
    // end, each told the whole file's size.
    const Bytes start(file.begin(), file.begin() + 128);
    ASSERT_TRUE(dds::ReadHeader(start.data(), start.size(), header, problem, file.size())) << problem;
    EXPECT_EQ(header.format, c.format);
    ASSERT_LE(header.topLevelEnd, file.size());
    const Bytes topLevel(file.begin(), file.begin() + header.topLevelEnd);
    dds::Image fromTopLevel;
    notes.clear();
    ASSERT_TRUE(
        dds::Decode(topLevel.data(), topLevel.size(), fromTopLevel, problem, notes, uint64_t{1} << 28, file.size()))
        << problem;
    EXPECT_EQ(fromTopLevel.rgba, image.rgba);
    EXPECT_EQ(notes, c.notes);
}

INSTANTIATE_TEST_SUITE_P(Dds, DecodeMisstatedGrey, testing::ValuesIn(misstatedCases), CaseName<MisstatedCase>);

Bytes Appended(Bytes file, size_t count)
{
    file.resize(file.size() + count);
    return file;
}

Bytes WithFourCCBytes(Bytes file, const char (&code)[5])
{
    std::copy(code, code + 4, file.begin() + 84);
    return file;
}

Bytes WithDxgi(Bytes file, uint32_t dxgi)
{
    for (int i = 0; i < 4; ++i)
        file[128 + i] = uint8_t(dxgi >> (8 * i));
    return file;
}

Bytes WithBitCount(Bytes file, uint32_t bits)
{
    file[88] = uint8_t(bits);
    return file;
}

// Files we cannot decode, each with a problem that says why.
struct ProblemCase {
    const char* name;
    Bytes file;
    const char* problem;
};

const Bytes dxt1 = modelwriter::WriteDds(Picture(8, 8, bc1Colours, 1), Spec(DdsEncoding::BC1));
const Bytes bc7 =
    modelwriter::WriteDds(Picture(8, 8, {7, 7, 7, 7, false, true, false, true}, 1), Spec(DdsEncoding::BC7, true));

const ProblemCase problemCases[] = {
    {"Empty", {}, "the file is empty"},
    {"NotDds", Bytes{'P', 'K', 3, 4, 0, 0}, "not a DDS file"},
    {"HeaderCut", Bytes(dxt1.begin(), dxt1.begin() + 100), "the file is truncated: it ends inside the 124-byte header"},
    {"Dx10ExtensionCut", Bytes(bc7.begin(), bc7.begin() + 140), "the file is truncated: it ends inside the DX10"},
    {"PixelsCut", Bytes(dxt1.begin(), dxt1.begin() + 128 + 31),
     "the file is truncated: its 8 x 8 DXT1 image needs 32 bytes of pixels, it holds 31"},
    {"UnknownFourCC", WithFourCCBytes(dxt1, "ABCD"), "unknown pixel format: FourCC 'ABCD'"},
    {"UnknownBitCount", WithBitCount(modelwriter::WriteDds(Picture(2, 2, rgba8, 1), Spec(DdsEncoding::A8R8G8B8)), 12),
     "unknown pixel format: 12 bits a pixel"},
    {"UnknownDxgiFormat", WithDxgi(bc7, 2), "unknown pixel format: DXGI format 2"},
    {"Bc6h", WithDxgi(bc7, 95), "BC6H (HDR) textures are not supported"},
    {"SignedBc5", WithFourCCBytes(dxt1, "BC5S"), "signed BC4 and BC5 textures are not supported"},
    {"NoPixels", modelwriter::WriteDdsData(0, 4, Spec(DdsEncoding::BC1), {}), "the image has no pixels: 0 x 4"},
    {"TooLarge", modelwriter::WriteDdsData(65536, 16384, Spec(DdsEncoding::BC1), {}),
     "the image is too large: 65536 x 16384"},
    // Misstated headers whose file fits two readings, or none, and one the rule leaves alone.
    {"GreyFitsTwoWays", // 16-bit grey or grey and alpha
     modelwriter::WriteDds(Picture(4, 4, greyAlpha, 1), Misstated(DdsEncoding::A8L8, 32, {0xFFFF, 0, 0, 0})),
     "the file is truncated: its 4 x 4 uncompressed 32-bit"},
    {"GreyFitsNoWay", Appended(modelwriter::WriteDds(Picture(4, 4, grey, 1), Misstated(DdsEncoding::L8, 32)), 1),
     "the file is truncated: its 4 x 4 uncompressed 32-bit"},
    {"GreyMasksPastThePixelFitNoWay",
     Appended(modelwriter::WriteDds(Picture(4, 4, grey, 1), Misstated(DdsEncoding::L8, 0, topByteMasks)), 1),
     "unknown pixel format: every channel mask is empty"},
    {"RgbSays32Bits", modelwriter::WriteDds(Picture(4, 4, {5, 6, 5, 0}, 1), Misstated(DdsEncoding::R5G6B5, 32)),
     "the file is truncated: its 4 x 4 uncompressed 32-bit"},
};

class DecodeProblem : public testing::TestWithParam<ProblemCase> {};

TEST_P(DecodeProblem, SaysWhy)
{
    const ProblemCase& c = GetParam();
    dds::Image image;
    std::string problem;
    std::vector<std::string> notes;
    EXPECT_FALSE(dds::Decode(c.file.data(), c.file.size(), image, problem, notes));
    EXPECT_THAT(problem, testing::StartsWith(c.problem));
    EXPECT_TRUE(image.rgba.empty());
}

INSTANTIATE_TEST_SUITE_P(Dds, DecodeProblem, testing::ValuesIn(problemCases), CaseName<ProblemCase>);

TEST(DecodeLimit, RefusesMorePixelsThanAllowed)
{
    dds::Image image;
    std::string problem;
    std::vector<std::string> notes;
    EXPECT_TRUE(dds::Decode(dxt1.data(), dxt1.size(), image, problem, notes, 64));
    EXPECT_FALSE(dds::Decode(dxt1.data(), dxt1.size(), image, problem, notes, 63));
    EXPECT_EQ(problem, "the image is too large: 8 x 8");
    const Bytes misstated = modelwriter::WriteDds(Picture(8, 8, grey, 1), Misstated(DdsEncoding::L8, 32));
    EXPECT_FALSE(dds::Decode(misstated.data(), misstated.size(), image, problem, notes, 63));
    EXPECT_EQ(problem, "the image is too large: 8 x 8");
}

// Every prefix of a file decodes or fails cleanly; the sanitizers see any read past its end.
TEST(DecodeTruncated, EveryPrefixFailsCleanly)
{
    const Bytes files[] = {dxt1,
                           bc7,
                           modelwriter::WriteDds(Picture(3, 2, rgb8, 1), Spec(DdsEncoding::R8G8B8)),
                           modelwriter::WriteDds(Picture(5, 5, rgba8, 1), Spec(DdsEncoding::A8B8G8R8, true)),
                           modelwriter::WriteDds(Picture(8, 8, grey, 1), Misstated(DdsEncoding::L8, 32, {}, 4)),
                           modelwriter::WriteDds(Picture(3, 3, greyAlpha, 1), Misstated(DdsEncoding::A8L8, 32))};
    for (const Bytes& file : files)
        for (size_t size = 0; size < file.size(); ++size) {
            const std::vector<uint8_t> prefix(file.begin(), file.begin() + size); // exactly sized for ASan
            dds::Image image;
            std::string problem;
            std::vector<std::string> notes;
            EXPECT_FALSE(dds::Decode(prefix.data(), prefix.size(), image, problem, notes)) << size;
            EXPECT_FALSE(problem.empty());
        }
}

// Masks wider than 8 bits round to the nearest level, up to a mask of the whole pixel word.
TEST(DecodeMasks, WideFieldsRoundToTheNearestLevel)
{
    Bytes file = modelwriter::WriteDdsData(3, 1, Spec(DdsEncoding::A8R8G8B8),
                                           {0x00, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0xFF, 0x7F, 0x00});
    const uint32_t masks[] = {0xFFFFFFFF, 0, 0x00FFFF00, 0}; // red, green, blue, alpha
    for (int m = 0; m < 4; ++m)
        for (int i = 0; i < 4; ++i)
            file[92 + 4 * m + i] = uint8_t(masks[m] >> (8 * i));
    dds::Image image;
    std::string problem;
    std::vector<std::string> notes;
    ASSERT_TRUE(dds::Decode(file.data(), file.size(), image, problem, notes)) << problem;
    // Red 2^31 of 2^32 - 1 is 127.50000003 of 255; blue 0x7FFF of 0xFFFF is 127.498.
    const std::vector<uint8_t> expected = {128, 0, 0, 255, 255, 0, 255, 255, 0, 0, 127, 255};
    EXPECT_EQ(image.rgba, expected);
}

TEST(ClassifyAlpha, TellsTheThreeKindsOfAlpha)
{
    const dds::Image opaque{2, 1, {1, 2, 3, 255, 4, 5, 6, 255}};
    const dds::Image cutout{2, 1, {1, 2, 3, 0, 4, 5, 6, 255}};
    const dds::Image blended{2, 1, {1, 2, 3, 0, 4, 5, 6, 254}};
    EXPECT_EQ(dds::ClassifyAlpha(opaque), dds::Alpha::Opaque);
    EXPECT_EQ(dds::ClassifyAlpha(cutout), dds::Alpha::Cutout);
    EXPECT_EQ(dds::ClassifyAlpha(blended), dds::Alpha::Blended);
}

} // namespace
