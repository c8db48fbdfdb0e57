#pragma once

// Inside the DDS reader: what the header says about the pixels, and the decoders that turn the
// top level's bytes into RGBA. Not part of the library's interface.

#include "Dds.h"

#include <cstdint>
#include <string>

namespace dds::detail {

enum class Codec { Masked, Bc1, Bc2, Bc3, Bc4, Bc5, Bc7 };

// Uncompressed pixels: one little-endian word of 1 to 4 bytes each, its channels picked out by
// masks. A zero mask leaves the channel at its default (colour 0, alpha 255).
struct Masks {
    uint32_t bytesPerPixel = 0;
    uint32_t red = 0, green = 0, blue = 0, alpha = 0;
    bool luminance = false; // red holds the grey level, copied to green and blue
};

struct Format {
    std::string name;
    Codec codec = Codec::Masked;
    Masks masks; // for Codec::Masked
};

struct Layout {
    Header header;
    Format format;
    size_t dataOffset = 0; // where the top level's bytes begin
    uint32_t arraySize = 1;
    bool volume = false;
    std::string note; // set when the header misstated its pixels and the file's size told us how to read them
};

// Reads the header and the DX10 extension, names the format, refuses what we cannot decode.
// `fileSize` is the whole file's, which `bytes` may hold only the start of.
bool ReadLayout(const uint8_t* bytes, size_t size, uint64_t fileSize, Layout& layout, std::string& problem);

// Bytes of the top level, saturated at UINT64_MAX so an absurd size fails the size check.
uint64_t TopLevelBytes(const Format& format, uint32_t width, uint32_t height);

// Decoders over bytes already checked to hold TopLevelBytes(); `image` is sized by the caller.
// Each decodes the rows given (of pixels, or of 4x4 blocks), so that parts of an image can be
// decoded side by side.
void DecodeMasked(const uint8_t* data, const Masks& masks, Image& image, uint32_t firstRow, uint32_t endRow);
void DecodeBlocks(const uint8_t* data, Codec codec, Image& image, uint32_t firstBlockRow, uint32_t endBlockRow);

// One 4x4 block to 16 RGBA pixels, row by row.
void DecodeBc7Block(const uint8_t* block, uint8_t* rgba);

} // namespace dds::detail
