// libFuzzer target over the DDS decoder and the PNG codec. Every input is read as a .dds file
// and as a PNG; a picture that decodes goes through the PNG encoder and back, and must come back
// the same. A broken invariant traps so libFuzzer keeps the input.

#include "Dds.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

// Enough for every seed, small enough that each run stays fast.
constexpr uint64_t maxPixels = uint64_t{1} << 20;

void Check(bool invariant)
{
    if (!invariant)
        __builtin_trap();
}

void RoundTripPng(const dds::Image& image)
{
    const bool withAlpha = dds::ClassifyAlpha(image) != dds::Alpha::Opaque;
    const std::vector<uint8_t> png = dds::EncodePng(image, withAlpha);
    dds::Image back;
    std::string problem;
    Check(dds::DecodePng(png.data(), png.size(), back, problem));
    Check(back.width == image.width && back.height == image.height && back.rgba.size() == image.rgba.size());
    for (size_t i = 0; i < image.rgba.size(); ++i)
        Check(back.rgba[i] == ((i % 4 == 3 && !withAlpha) ? 255 : image.rgba[i]));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    dds::Header header;
    std::string headerProblem;
    const bool headerRead = dds::ReadHeader(data, size, header, headerProblem);
    Check(headerRead || !headerProblem.empty());

    dds::Image image;
    std::string problem;
    std::vector<std::string> notes;
    if (dds::Decode(data, size, image, problem, notes, maxPixels)) {
        Check(headerRead && header.width == image.width && header.height == image.height);
        Check(image.rgba.size() == size_t{image.width} * image.height * 4);
        RoundTripPng(image);
    } else {
        Check(!problem.empty());
    }

    dds::Image png;
    std::string pngProblem;
    if (!dds::DecodePng(data, size, png, pngProblem, maxPixels))
        Check(!pngProblem.empty());
    else
        Check(png.rgba.size() == size_t{png.width} * png.height * 4);
    return 0;
}
