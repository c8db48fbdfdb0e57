// BC7: eight block modes of one to three subsets, each subset a pair of endpoints with index
// interpolation between them; optional p-bits, rotation of alpha into a colour channel, and a
// choice of which of two index sets drives colour.

#include "DdsFormat.h"

#include <cstring>
#include <utility>

namespace dds::detail {
namespace {

struct Mode {
    int subsets, partitionBits, rotationBits, selectionBits, colourBits, alphaBits, endpointPBits, sharedPBits,
        indexBits, secondaryIndexBits;
};

constexpr Mode modes[8] = {
    {3, 4, 0, 0, 4, 0, 1, 0, 3, 0}, {2, 6, 0, 0, 6, 0, 0, 1, 3, 0}, {3, 6, 0, 0, 5, 0, 0, 0, 2, 0},
    {2, 6, 0, 0, 7, 0, 1, 0, 2, 0}, {1, 0, 2, 1, 5, 6, 0, 0, 2, 3}, {1, 0, 2, 0, 7, 8, 0, 0, 2, 2},
    {1, 0, 0, 0, 7, 7, 1, 0, 4, 0}, {2, 6, 0, 0, 5, 5, 1, 0, 2, 0},
};

// The subset of each pixel, row by row, for the 64 two-subset and 64 three-subset partitions.
constexpr const char* twoSubsets[64] = {
    "0011001100110011", "0001000100010001", "0111011101110111", "0001001100110111", "0000000100010011",
    "0011011101111111", "0001001101111111", "0000000100110111", "0000000000010011", "0011011111111111",
    "0000000101111111", "0000000000010111", "0001011111111111", "0000000011111111", "0000111111111111",
    "0000000000001111", "0000100011101111", "0111000100000000", "0000000010001110", "0111001100010000",
    "0011000100000000", "0000100011001110", "0000000010001100", "0111001100110001", "0011000100010000",
    "0000100010001100", "0110011001100110", "0011011001101100", "0001011111101000", "0000111111110000",
    "0111000110001110", "0011100110011100", "0101010101010101", "0000111100001111", "0101101001011010",
    "0011001111001100", "0011110000111100", "0101010110101010", "0110100101101001", "0101101010100101",
    "0111001111001110", "0001001111001000", "0011001001001100", "0011101111011100", "0110100110010110",
    "0011110011000011", "0110011010011001", "0000011001100000", "0100111001000000", "0010011100100000",
    "0000001001110010", "0000010011100100", "0110110010010011", "0011011011001001", "0110001110011100",
    "0011100111000110", "0110110011001001", "0110001100111001", "0111111010000001", "0001100011100111",
    "0000111100110011", "0011001111110000", "0010001011101110", "0100010001110111",
};
constexpr const char* threeSubsets[64] = {
    "0011001102212222", "0001001122112221", "0000200122112211", "0222002200110111", "0000000011221122",
    "0011001100220022", "0022002211111111", "0011001122112211", "0000000011112222", "0000111111112222",
    "0000111122222222", "0012001200120012", "0112011201120112", "0122012201220122", "0011011211221222",
    "0011200122002220", "0001001101121122", "0111001120012200", "0000112211221122", "0022002200221111",
    "0111011102220222", "0001000122212221", "0000001101220122", "0000110022102210", "0122012200110000",
    "0012001211222222", "0110122112210110", "0000011012211221", "0022110211020022", "0110011020022222",
    "0011012201220011", "0000200022112221", "0000000211221222", "0222002200120011", "0011001200220222",
    "0120012001200120", "0000111122220000", "0120120120120120", "0120201212010120", "0011220011220011",
    "0011112222000011", "0101010122222222", "0000000021212121", "0022112200221122", "0022001100220011",
    "0220122102201221", "0101222222220101", "0000212121212121", "0101010101012222", "0222011102220111",
    "0002111200021112", "0000211221122112", "0222011101110222", "0002111211120002", "0110011001102222",
    "0000000021122112", "0110011022222222", "0022001100110022", "0022112211220022", "0000000000002112",
    "0002000100020001", "0222122202221222", "0101222222222222", "0111201122012220",
};

// The anchor pixel, whose index drops its top bit: for the second subset of two-subset
// partitions, and the second and third subsets of three-subset ones. The first subset's anchor
// is always pixel 0.
constexpr uint8_t anchorTwo[64] = {
    15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 2,  8, 2,  2, 8,
    8,  15, 2,  8,  2,  2,  8,  8,  2,  2,  15, 15, 6,  8,  2,  8,  15, 15, 2, 8,  2, 2,
    2,  15, 15, 6,  6,  2,  6,  8,  15, 15, 2,  2,  15, 15, 15, 15, 15, 2,  2, 15,
};
constexpr uint8_t anchorThreeSecond[64] = {
    3, 3,  15, 15, 8, 3,  15, 15, 8,  8, 6,  6, 6,  5,  3,  3,  3, 3,  8, 15, 3, 3, 6, 10, 5, 8,  8, 6,  8,  5,  15, 15,
    8, 15, 3,  5,  6, 10, 8,  15, 15, 3, 15, 5, 15, 15, 15, 15, 3, 15, 5, 5,  5, 8, 5, 10, 5, 10, 8, 13, 15, 12, 3,  3,
};
constexpr uint8_t anchorThreeThird[64] = {
    15, 8, 8, 3,  15, 15, 3,  8,  15, 15, 15, 15, 15, 15, 15, 8,  15, 8,  15, 3,  15, 8,
    15, 8, 3, 15, 6,  10, 15, 15, 10, 8,  15, 3,  15, 10, 10, 8,  9,  10, 6,  15, 8,  15,
    3,  6, 6, 8,  15, 3,  15, 15, 15, 15, 15, 15, 15, 15, 15, 15, 3,  15, 15, 8,
};

constexpr uint8_t weights2[4] = {0, 21, 43, 64};
constexpr uint8_t weights3[8] = {0, 9, 18, 27, 37, 46, 55, 64};
constexpr uint8_t weights4[16] = {0, 4, 9, 13, 17, 21, 26, 30, 34, 38, 43, 47, 51, 55, 60, 64};

const uint8_t* Weights(int bits)
{
    return bits == 2 ? weights2 : bits == 3 ? weights3 : weights4;
}

// The block's 128 bits, read from the lowest up.
class Bits {
public:
    explicit Bits(const uint8_t* block)
    {
        for (int i = 7; i >= 0; --i) {
            low = low << 8 | block[i];
            high = high << 8 | block[8 + i];
        }
    }

    uint32_t Read(int count)
    {
        const uint64_t value =
            position >= 64 ? high >> (position - 64) : low >> position | (position == 0 ? 0 : high << (64 - position));
        position += count;
        return uint32_t(value & ((uint64_t{1} << count) - 1));
    }

private:
    uint64_t low = 0, high = 0;
    int position = 0;
};

// A value of `bits` bits widened to 8 by repeating its top bits below it.
uint8_t Widen(uint32_t value, int bits)
{
    value <<= 8 - bits;
    return uint8_t(value | value >> bits);
}

uint8_t Interpolate(uint8_t e0, uint8_t e1, uint8_t weight)
{
    return uint8_t(((64 - weight) * e0 + weight * e1 + 32) >> 6);
}

} // namespace

void DecodeBc7Block(const uint8_t* block, uint8_t* rgba)
{
    if (block[0] == 0) { // the reserved mode: transparent black
        std::memset(rgba, 0, 64);
        return;
    }
    int modeNumber = 0;
    while (((block[0] >> modeNumber) & 1) == 0)
        ++modeNumber;
    const Mode& mode = modes[modeNumber];
    Bits bits(block);
    bits.Read(modeNumber + 1);
    const uint32_t partition = bits.Read(mode.partitionBits);
    const uint32_t rotation = bits.Read(mode.rotationBits);
    const uint32_t selection = bits.Read(mode.selectionBits);

    // endpoint[subset * 2 + end][channel], first as stored, then widened to 8 bits.
    uint32_t endpoint[6][4] = {};
    const int ends = mode.subsets * 2;
    for (int channel = 0; channel < 3; ++channel)
        for (int e = 0; e < ends; ++e)
            endpoint[e][channel] = bits.Read(mode.colourBits);
    for (int e = 0; e < ends && mode.alphaBits > 0; ++e)
        endpoint[e][3] = bits.Read(mode.alphaBits);
    int colourBits = mode.colourBits, alphaBits = mode.alphaBits;
    if (mode.endpointPBits || mode.sharedPBits) {
        uint32_t pBits[6] = {};
        for (int e = 0; e < ends; ++e)
            pBits[e] = mode.endpointPBits ? bits.Read(1) : (e % 2 == 0 ? bits.Read(1) : pBits[e - 1]);
        for (int e = 0; e < ends; ++e)
            for (int channel = 0; channel < 4; ++channel)
                endpoint[e][channel] = endpoint[e][channel] << 1 | pBits[e];
        ++colourBits;
        alphaBits += alphaBits > 0 ? 1 : 0;
    }
    uint8_t colour[6][4];
    for (int e = 0; e < ends; ++e) {
        for (int channel = 0; channel < 3; ++channel)
            colour[e][channel] = Widen(endpoint[e][channel], colourBits);
        colour[e][3] = alphaBits > 0 ? Widen(endpoint[e][3], alphaBits) : 255;
    }

    const char* subsetOf = mode.subsets == 2   ? twoSubsets[partition]
                           : mode.subsets == 3 ? threeSubsets[partition]
                                               : nullptr;
    auto isAnchor = [&](int pixel) {
        if (pixel == 0)
            return true;
        if (mode.subsets == 2)
            return pixel == anchorTwo[partition];
        if (mode.subsets == 3)
            return pixel == anchorThreeSecond[partition] || pixel == anchorThreeThird[partition];
        return false;
    };
    uint32_t primary[16], secondary[16] = {};
    for (int i = 0; i < 16; ++i)
        primary[i] = bits.Read(mode.indexBits - (isAnchor(i) ? 1 : 0));
    for (int i = 0; i < 16 && mode.secondaryIndexBits > 0; ++i)
        secondary[i] = bits.Read(mode.secondaryIndexBits - (i == 0 ? 1 : 0));

    // With two index sets, the selection bit says which drives colour; the other drives alpha.
    const bool swapSets = selection == 1;
    const int colourIndexBits = swapSets ? mode.secondaryIndexBits : mode.indexBits;
    const int alphaIndexBits = mode.secondaryIndexBits == 0 ? mode.indexBits
                               : swapSets                   ? mode.indexBits
                                                            : mode.secondaryIndexBits;
    const uint8_t* colourWeights = Weights(colourIndexBits);
    const uint8_t* alphaWeights = Weights(alphaIndexBits);
    for (int i = 0; i < 16; ++i) {
        const int subset = subsetOf ? subsetOf[i] - '0' : 0;
        const uint8_t* e0 = colour[subset * 2];
        const uint8_t* e1 = colour[subset * 2 + 1];
        const uint32_t colourIndex = swapSets ? secondary[i] : primary[i];
        const uint32_t alphaIndex = mode.secondaryIndexBits == 0 ? primary[i] : swapSets ? primary[i] : secondary[i];
        uint8_t* pixel = rgba + 4 * i;
        for (int channel = 0; channel < 3; ++channel)
            pixel[channel] = Interpolate(e0[channel], e1[channel], colourWeights[colourIndex]);
        pixel[3] = Interpolate(e0[3], e1[3], alphaWeights[alphaIndex]);
        if (rotation != 0)
            std::swap(pixel[3], pixel[rotation - 1]);
    }
}

} // namespace dds::detail
