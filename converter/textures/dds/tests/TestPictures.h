#pragma once

// Pictures for the DDS tests, drawn so that the format under test stores them exactly: each
// channel takes only values its bit depth holds, and for block formats each 4x4 block holds two
// colours (the encoder's endpoints), so a correct decoder gives back every pixel.

#include "Dds.h"
#include "DdsWriter.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <sstream>
#include <string>

namespace ddstest {

// Bits a channel keeps; 0 for a channel the format lacks (colour 0, alpha 255).
struct Channels {
    int red = 8, green = 8, blue = 8, alpha = 8;
    bool grey = false;      // red copied to green and blue
    bool pairs = false;     // two colours per 4x4 block
    bool cutout = false;    // some pixels transparent black (BC1's one-bit alpha)
    bool bc7Parity = false; // all channels of a colour share their lowest bit (BC7 mode 6's p-bit)
};

// A value of `bits` bits widened to 8 by repeating its bits, as every format here does.
inline uint8_t Widen(uint32_t value, int bits)
{
    uint32_t wide = 0;
    for (int filled = 0; filled < 8; filled += bits)
        wide = wide << bits | value;
    return uint8_t(wide >> (((8 + bits - 1) / bits) * bits - 8));
}

inline std::array<uint8_t, 4> RandomColour(std::mt19937& random, const Channels& channels)
{
    auto draw = [&](int bits, uint8_t missing) {
        return bits == 0 ? missing : Widen(random() & ((1u << bits) - 1), bits);
    };
    std::array<uint8_t, 4> c = {draw(channels.red, 0), draw(channels.green, 0), draw(channels.blue, 0),
                                draw(channels.alpha, 255)};
    if (channels.grey)
        c[1] = c[2] = c[0];
    if (channels.bc7Parity) {
        const uint8_t p = random() & 1;
        for (uint8_t& v : c)
            v = uint8_t((v & 0xFE) | p);
    }
    return c;
}

inline modelwriter::RgbaImage Picture(uint32_t width, uint32_t height, const Channels& channels, uint32_t seed)
{
    std::mt19937 random(seed);
    modelwriter::RgbaImage image{width, height, {}};
    image.rgba.resize(size_t{width} * height * 4);
    const uint32_t blocksWide = (width + 3) / 4;
    std::vector<std::array<uint8_t, 4>> pairs;
    for (uint32_t i = 0; i < blocksWide * ((height + 3) / 4) * 2; ++i)
        pairs.push_back(RandomColour(random, channels));
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            std::array<uint8_t, 4> c = RandomColour(random, channels);
            const uint32_t choice = random() % (channels.cutout ? 3 : 2);
            if (channels.pairs)
                c = choice == 2 ? std::array<uint8_t, 4>{} : pairs[((y / 4) * blocksWide + x / 4) * 2 + choice];
            std::copy(c.begin(), c.end(), &image.rgba[(size_t{y} * width + x) * 4]);
        }
    return image;
}

// "" when equal, else where the first difference lies.
inline std::string Difference(const std::vector<uint8_t>& actual, const std::vector<uint8_t>& expected, uint32_t width,
                              int tolerance = 0)
{
    if (actual.size() != expected.size())
        return "sizes differ: " + std::to_string(actual.size()) + " and " + std::to_string(expected.size());
    for (size_t i = 0; i < actual.size(); ++i)
        if (std::abs(actual[i] - expected[i]) > tolerance) {
            const size_t pixel = i / 4;
            std::ostringstream text;
            text << "pixel (" << pixel % width << ", " << pixel / width << ") channel " << i % 4 << ": "
                 << int(actual[i]) << " instead of " << int(expected[i]);
            return text.str();
        }
    return "";
}

} // namespace ddstest
