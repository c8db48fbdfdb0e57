#pragma once

// Our own reader of DirectDraw Surface (.dds) textures, and a PNG codec for the pictures it
// decodes. Every function takes untrusted bytes: sizes are checked before anything is allocated
// and nothing is read outside the bytes given.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace dds {

// 8-bit RGBA, rows top to bottom.
struct Image {
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> rgba;
};

// Every alpha 255 / only 0 and 255 / anything between.
enum class Alpha { Opaque, Cutout, Blended };

struct Header {
    uint32_t width = 0, height = 0;
    std::string format; // e.g. "BC7 sRGB", "A8R8G8B8"
    bool cubeMap = false;
    uint64_t topLevelEnd = 0; // bytes from the file's start to the top level's end: all a decode reads
};

// Both readers take `fileSize`, the whole file's size, when `bytes` holds only the file's start
// (0 means `bytes` is the whole file). When an uncompressed grey header misstates its pixels, as
// some writers' headers do, the pixels are read the one way that fits the whole file's size
// exactly, if just one way does.

// Reads only the header (and DX10 extension), for checks before reading or decoding a file.
// Returns false with `problem` when the header is damaged or names a format we cannot decode.
bool ReadHeader(const uint8_t* bytes, size_t size, Header& header, std::string& problem, uint64_t fileSize = 0);

// Decodes the top level (the first face of a cube map) of a .dds file's bytes, on up to
// `threads` threads. Returns false with `problem` when it cannot, found out before any large
// allocation; `notes` gets what the user should know about a decode that worked ("a cube map:
// its first face is used").
bool Decode(const uint8_t* bytes, size_t size, Image& image, std::string& problem, std::vector<std::string>& notes,
            uint64_t maxPixels = uint64_t{1} << 28, uint64_t fileSize = 0, unsigned threads = 1);

Alpha ClassifyAlpha(const Image& image);

// Encodes a PNG: RGB when withAlpha is false, else RGBA, deflated on up to `threads` threads. It
// writes no time or text chunks, so the same image always gives the same bytes, whatever the
// number of threads. Throws std::runtime_error on failure (std::bad_alloc passes through).
std::vector<uint8_t> EncodePng(const Image& image, bool withAlpha, unsigned threads = 1);

// For tests and tools: reads a PNG back to RGBA (grey, palette and 16-bit images converted).
bool DecodePng(const uint8_t* bytes, size_t size, Image& image, std::string& problem,
               uint64_t maxPixels = uint64_t{1} << 28);

} // namespace dds
