#include "TestPictures.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

dds::Image Sample(uint32_t width, uint32_t height)
{
    const modelwriter::RgbaImage picture = ddstest::Picture(width, height, {}, 11);
    return dds::Image{width, height, picture.rgba};
}

bool Holds(const std::vector<uint8_t>& bytes, const std::string& text)
{
    return std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) != bytes.end();
}

constexpr size_t colourTypeOffset = 25; // signature 8, IHDR length and type 8, width, height, depth

TEST(Png, KeepsEveryPixelWithAlpha)
{
    const dds::Image image = Sample(37, 21);
    const std::vector<uint8_t> png = dds::EncodePng(image, true);
    EXPECT_EQ(png[colourTypeOffset], 6); // RGBA
    dds::Image back;
    std::string problem;
    ASSERT_TRUE(dds::DecodePng(png.data(), png.size(), back, problem)) << problem;
    EXPECT_EQ(back.width, 37u);
    EXPECT_EQ(back.height, 21u);
    EXPECT_EQ(ddstest::Difference(back.rgba, image.rgba, 37), "");
}

TEST(Png, WithoutAlphaReadsBackOpaqueInItsColours)
{
    dds::Image image = Sample(5, 9);
    const std::vector<uint8_t> png = dds::EncodePng(image, false);
    EXPECT_EQ(png[colourTypeOffset], 2); // RGB
    dds::Image back;
    std::string problem;
    ASSERT_TRUE(dds::DecodePng(png.data(), png.size(), back, problem)) << problem;
    for (size_t i = 3; i < image.rgba.size(); i += 4)
        image.rgba[i] = 255;
    EXPECT_EQ(ddstest::Difference(back.rgba, image.rgba, 5), "");
}

TEST(Png, SameImageGivesSameBytesWithoutTimeOrText)
{
    const dds::Image image = Sample(16, 16);
    const std::vector<uint8_t> png = dds::EncodePng(image, true);
    EXPECT_EQ(png, dds::EncodePng(image, true));
    for (const char* chunk : {"tIME", "tEXt", "zTXt", "iTXt"})
        EXPECT_FALSE(Holds(png, chunk)) << chunk;
}

size_t Occurrences(const std::vector<uint8_t>& bytes, const std::string& text)
{
    size_t count = 0;
    for (auto at = bytes.begin(); (at = std::search(at, bytes.end(), text.begin(), text.end())) != bytes.end(); ++at)
        ++count;
    return count;
}

// Large images are deflated in bands of rows, one zlib stream across IDAT chunks: many bands, a
// band of a single row wider than a band's bytes, and one band. Any number of threads gives the
// same bytes, and libpng (which checks every CRC and the stream's checksum) reads every pixel back.
TEST(Png, BandsOnSeveralThreadsMakeOneStreamWithEveryPixel)
{
    struct Shape {
        uint32_t width, height;
        size_t idatChunks;
    };
    for (const Shape shape : {Shape{1100, 700, 3}, Shape{300000, 3, 3}, Shape{1, 5000, 1}})
        for (const bool withAlpha : {true, false}) {
            SCOPED_TRACE(std::to_string(shape.width) + " x " + std::to_string(shape.height) +
                         (withAlpha ? " RGBA" : " RGB"));
            dds::Image image = Sample(shape.width, shape.height);
            const std::vector<uint8_t> png = dds::EncodePng(image, withAlpha, 1);
            EXPECT_EQ(dds::EncodePng(image, withAlpha, 3), png);
            EXPECT_EQ(Occurrences(png, "IDAT"), shape.idatChunks);
            dds::Image back;
            std::string problem;
            ASSERT_TRUE(dds::DecodePng(png.data(), png.size(), back, problem)) << problem;
            if (!withAlpha)
                for (size_t i = 3; i < image.rgba.size(); i += 4)
                    image.rgba[i] = 255;
            EXPECT_EQ(ddstest::Difference(back.rgba, image.rgba, shape.width), "");
        }
}

TEST(Png, RefusesAnImageWhosePixelsDoNotMatchItsSize)
{
    dds::Image image = Sample(4, 4);
    image.rgba.pop_back();
    EXPECT_THROW(dds::EncodePng(image, true), std::runtime_error);
    EXPECT_THROW(dds::EncodePng(dds::Image{}, false), std::runtime_error);
}

// Every prefix and a flipped byte anywhere fail cleanly; the sanitizers see any read past the end.
TEST(Png, DamagedFilesFailCleanly)
{
    const std::vector<uint8_t> png = dds::EncodePng(Sample(9, 7), true);
    for (size_t size = 0; size < png.size(); ++size) {
        const std::vector<uint8_t> prefix(png.begin(), png.begin() + size);
        dds::Image image;
        std::string problem;
        EXPECT_FALSE(dds::DecodePng(prefix.data(), prefix.size(), image, problem)) << size;
        EXPECT_FALSE(problem.empty());
    }
    for (size_t at = 8; at < png.size(); ++at) {
        std::vector<uint8_t> damaged = png;
        damaged[at] ^= 0x5A;
        dds::Image image;
        std::string problem;
        const bool read = dds::DecodePng(damaged.data(), damaged.size(), image, problem);
        EXPECT_TRUE(read || !problem.empty()) << at;
    }
}

TEST(Png, RefusesMorePixelsThanAllowed)
{
    const std::vector<uint8_t> png = dds::EncodePng(Sample(8, 8), true);
    dds::Image image;
    std::string problem;
    EXPECT_FALSE(dds::DecodePng(png.data(), png.size(), image, problem, 63));
    EXPECT_EQ(problem, "the image is too large: 8 x 8");
}

} // namespace
