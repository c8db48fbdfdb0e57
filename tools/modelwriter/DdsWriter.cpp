#include "DdsWriter.h"

#include <algorithm>
#include <array>
#include <random>
#include <stdexcept>

namespace modelwriter {
namespace {

using Rgba = std::array<uint8_t, 4>;

struct Layout {
    uint32_t bytes, red, green, blue, alpha, flags; // legacy pixel format
    uint32_t dxgi, dxgiSrgb;                        // 0 when DXGI has no such format
};

constexpr uint32_t alphaPixels = 0x1, alphaOnly = 0x2, fourCCFlag = 0x4, rgb = 0x40, luminance = 0x20000;

Layout UncompressedLayout(DdsEncoding encoding)
{
    switch (encoding) {
    case DdsEncoding::A8R8G8B8: return {4, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, rgb | alphaPixels, 87, 91};
    case DdsEncoding::X8R8G8B8: return {4, 0xFF0000, 0xFF00, 0xFF, 0, rgb, 88, 93};
    case DdsEncoding::R8G8B8: return {3, 0xFF0000, 0xFF00, 0xFF, 0, rgb, 0, 0};
    case DdsEncoding::A8B8G8R8: return {4, 0xFF, 0xFF00, 0xFF0000, 0xFF000000, rgb | alphaPixels, 28, 29};
    case DdsEncoding::R5G6B5: return {2, 0xF800, 0x07E0, 0x001F, 0, rgb, 85, 0};
    case DdsEncoding::A1R5G5B5: return {2, 0x7C00, 0x03E0, 0x001F, 0x8000, rgb | alphaPixels, 86, 0};
    case DdsEncoding::A4R4G4B4: return {2, 0x0F00, 0x00F0, 0x000F, 0xF000, rgb | alphaPixels, 115, 0};
    case DdsEncoding::L8: return {1, 0xFF, 0, 0, 0, luminance, 61, 0};
    case DdsEncoding::A8: return {1, 0, 0, 0, 0xFF, alphaOnly, 65, 0};
    case DdsEncoding::A8L8: return {2, 0xFF, 0, 0, 0xFF00, luminance | alphaPixels, 0, 0};
    default: throw std::invalid_argument("not an uncompressed encoding");
    }
}

bool Compressed(DdsEncoding encoding)
{
    return encoding >= DdsEncoding::BC1;
}

size_t BlockBytes(DdsEncoding encoding)
{
    return encoding == DdsEncoding::BC1 || encoding == DdsEncoding::BC4 ? 8 : 16;
}

uint32_t Dxgi(const DdsSpec& spec)
{
    const bool s = spec.srgb;
    switch (spec.encoding) {
    case DdsEncoding::BC1: return s ? 72 : 71;
    case DdsEncoding::BC2: return s ? 75 : 74;
    case DdsEncoding::BC3: return s ? 78 : 77;
    case DdsEncoding::BC4: return 80;
    case DdsEncoding::BC5: return 83;
    case DdsEncoding::BC7: return s ? 99 : 98;
    default: {
        const Layout layout = UncompressedLayout(spec.encoding);
        const uint32_t dxgi = s ? layout.dxgiSrgb : layout.dxgi;
        if (dxgi == 0)
            throw std::invalid_argument("this encoding has no DXGI format");
        return dxgi;
    }
    }
}

uint32_t LegacyFourCC(const DdsSpec& spec)
{
    switch (spec.encoding) {
    case DdsEncoding::BC1: return DdsFourCC("DXT1");
    case DdsEncoding::BC2: return DdsFourCC("DXT3");
    case DdsEncoding::BC3: return DdsFourCC("DXT5");
    case DdsEncoding::BC4: return spec.fourCC ? spec.fourCC : DdsFourCC("ATI1");
    case DdsEncoding::BC5: return spec.fourCC ? spec.fourCC : DdsFourCC("ATI2");
    default: throw std::invalid_argument("BC7 needs a DX10 header");
    }
}

// Rounds an 8-bit value to a field of `max + 1` levels.
uint32_t Quantise(uint8_t value, uint32_t max)
{
    return (uint32_t{value} * max + 127) / 255;
}

uint32_t Field(uint8_t value, uint32_t mask)
{
    if (mask == 0)
        return 0;
    uint32_t shift = 0;
    while (((mask >> shift) & 1) == 0)
        ++shift;
    return Quantise(value, mask >> shift) << shift;
}

uint8_t Grey(const uint8_t* p)
{
    return uint8_t((p[0] * 77 + p[1] * 150 + p[2] * 29 + 128) >> 8);
}

void EncodeUncompressed(const RgbaImage& image, DdsEncoding encoding, ByteWriter& out)
{
    const Layout layout = UncompressedLayout(encoding);
    const bool grey = layout.flags & luminance;
    for (size_t i = 0; i < image.rgba.size(); i += 4) {
        const uint8_t* p = &image.rgba[i];
        const uint32_t word = Field(grey ? Grey(p) : p[0], layout.red) | Field(p[1], layout.green) |
                              Field(p[2], layout.blue) | Field(p[3], layout.alpha);
        for (uint32_t b = 0; b < layout.bytes; ++b)
            out.U8(uint8_t(word >> (8 * b)));
    }
}

// The block at (bx, by), its pixels past the image's edge repeating the last row and column.
std::array<Rgba, 16> Block(const RgbaImage& image, uint32_t bx, uint32_t by)
{
    std::array<Rgba, 16> block{};
    for (uint32_t y = 0; y < 4; ++y)
        for (uint32_t x = 0; x < 4; ++x) {
            const uint32_t px = std::min(bx * 4 + x, image.width - 1), py = std::min(by * 4 + y, image.height - 1);
            const uint8_t* p = &image.rgba[(size_t{py} * image.width + px) * 4];
            block[y * 4 + x] = {p[0], p[1], p[2], p[3]};
        }
    return block;
}

int Distance(const Rgba& a, const Rgba& b, int channels)
{
    int sum = 0;
    for (int c = 0; c < channels; ++c)
        sum += (a[c] - b[c]) * (a[c] - b[c]);
    return sum;
}

template <typename Palette>
uint32_t Nearest(const Rgba& pixel, const Palette& palette, size_t count, int channels)
{
    uint32_t best = 0;
    for (uint32_t i = 1; i < count; ++i)
        if (Distance(pixel, palette[i], channels) < Distance(pixel, palette[best], channels))
            best = i;
    return best;
}

uint16_t To565(const Rgba& c)
{
    return uint16_t(Quantise(c[0], 31) << 11 | Quantise(c[1], 63) << 5 | Quantise(c[2], 31));
}

Rgba From565(uint16_t c)
{
    const uint32_t r = c >> 11, g = (c >> 5) & 0x3F, b = c & 0x1F;
    return {uint8_t(r << 3 | r >> 2), uint8_t(g << 2 | g >> 4), uint8_t(b << 3 | b >> 2), 255};
}

// The two pixels farthest apart of those `use` admits, the darker first.
template <typename Use>
bool Extremes(const std::array<Rgba, 16>& block, Use use, int channels, Rgba& low, Rgba& high)
{
    int farthest = -1;
    for (const Rgba& a : block)
        for (const Rgba& b : block)
            if (use(a) && use(b) && Distance(a, b, channels) > farthest) {
                farthest = Distance(a, b, channels);
                low = a, high = b;
            }
    if (low[0] + low[1] + low[2] > high[0] + high[1] + high[2])
        std::swap(low, high);
    return farthest >= 0;
}

// BC1's colour block; with `cutout`, pixels of alpha below 128 become transparent black.
void ColourBlock(const std::array<Rgba, 16>& block, bool cutout, ByteWriter& out)
{
    const bool transparent =
        cutout && std::any_of(block.begin(), block.end(), [](const Rgba& p) { return p[3] < 128; });
    Rgba low{}, high{};
    Extremes(
        block, [&](const Rgba& p) { return !transparent || p[3] >= 128; }, 3, low, high);
    uint16_t c0 = To565(high), c1 = To565(low);
    // Four colours need c0 > c1, three colours and transparency c0 <= c1.
    if (transparent ? c0 > c1 : c0 < c1)
        std::swap(c0, c1);
    std::array<Rgba, 4> palette{From565(c0), From565(c1)};
    const size_t colours = (transparent || c0 == c1) ? 3 : 4;
    for (int c = 0; c < 3; ++c)
        if (colours == 4) {
            palette[2][c] = uint8_t((2 * palette[0][c] + palette[1][c] + 1) / 3);
            palette[3][c] = uint8_t((palette[0][c] + 2 * palette[1][c] + 1) / 3);
        } else {
            palette[2][c] = uint8_t((palette[0][c] + palette[1][c] + 1) / 2);
        }
    uint32_t indices = 0;
    for (int i = 0; i < 16; ++i) {
        const uint32_t index = transparent && block[i][3] < 128 ? 3 : Nearest(block[i], palette, colours, 3);
        indices |= index << (2 * i);
    }
    out.U16(c0).U16(c1).U32(indices);
}

// One channel as BC4 stores it: the largest value first, for eight levels.
void ChannelBlock(const std::array<Rgba, 16>& block, int channel, ByteWriter& out)
{
    uint8_t low = 255, high = 0;
    for (const Rgba& p : block)
        low = std::min(low, p[channel]), high = std::max(high, p[channel]);
    std::array<Rgba, 8> levels{};
    levels[0][0] = high;
    levels[1][0] = low;
    for (uint32_t i = 1; i < 7; ++i)
        levels[i + 1][0] = uint8_t(((7 - i) * high + i * low + 3) / 7);
    uint64_t indices = 0;
    for (int i = 0; i < 16; ++i) {
        const uint64_t index = high == low ? 0 : Nearest(Rgba{block[i][channel]}, levels, 8, 1);
        indices |= index << (3 * i);
    }
    out.U8(high).U8(low);
    for (int b = 0; b < 6; ++b)
        out.U8(uint8_t(indices >> (8 * b)));
}

// 128 bits written from the lowest up.
class Bits128 {
public:
    void Write(uint32_t value, int count)
    {
        for (int i = 0; i < count; ++i, ++position)
            if ((value >> i) & 1)
                (position < 64 ? low : high) |= uint64_t{1} << (position % 64);
    }
    void Append(ByteWriter& out) const
    {
        for (int b = 0; b < 8; ++b)
            out.U8(uint8_t(low >> (8 * b)));
        for (int b = 0; b < 8; ++b)
            out.U8(uint8_t(high >> (8 * b)));
    }

private:
    uint64_t low = 0, high = 0;
    int position = 0;
};

// An endpoint of BC7 mode 6: seven bits a channel and one p-bit below them all, the p-bit
// chosen for the smaller error.
struct Endpoint {
    std::array<uint32_t, 4> bits7{};
    uint32_t p = 0;
    Rgba Value() const
    {
        Rgba v{};
        for (int c = 0; c < 4; ++c)
            v[c] = uint8_t(bits7[c] << 1 | p);
        return v;
    }
};

Endpoint Mode6Endpoint(const Rgba& colour)
{
    Endpoint best;
    int bestError = 1 << 30;
    for (uint32_t p = 0; p < 2; ++p) {
        Endpoint e;
        e.p = p;
        for (int c = 0; c < 4; ++c)
            e.bits7[c] = std::min(127u, (colour[c] >= p ? colour[c] - p + 1 : 0) / 2);
        const int error = Distance(e.Value(), colour, 4);
        if (error < bestError)
            bestError = error, best = e;
    }
    return best;
}

void Bc7Block(const std::array<Rgba, 16>& block, ByteWriter& out)
{
    static const uint8_t weights[16] = {0, 4, 9, 13, 17, 21, 26, 30, 34, 38, 43, 47, 51, 55, 60, 64};
    Rgba low{}, high{};
    Extremes(
        block, [](const Rgba&) { return true; }, 4, low, high);
    Endpoint e0 = Mode6Endpoint(low), e1 = Mode6Endpoint(high);
    std::array<Rgba, 16> palette{};
    auto fill = [&] {
        const Rgba a = e0.Value(), b = e1.Value();
        for (int i = 0; i < 16; ++i)
            for (int c = 0; c < 4; ++c)
                palette[i][c] = uint8_t(((64 - weights[i]) * a[c] + weights[i] * b[c] + 32) >> 6);
    };
    fill();
    std::array<uint32_t, 16> indices{};
    for (int i = 0; i < 16; ++i)
        indices[i] = Nearest(block[i], palette, 16, 4);
    if (indices[0] >= 8) { // the first index is stored without its top bit
        std::swap(e0, e1);
        for (uint32_t& index : indices)
            index = 15 - index;
    }
    Bits128 bits;
    bits.Write(1 << 6, 7);
    for (int c = 0; c < 4; ++c) {
        bits.Write(e0.bits7[c], 7);
        bits.Write(e1.bits7[c], 7);
    }
    bits.Write(e0.p, 1);
    bits.Write(e1.p, 1);
    for (int i = 0; i < 16; ++i)
        bits.Write(indices[i], i == 0 ? 3 : 4);
    bits.Append(out);
}

void EncodeBlocks(const RgbaImage& image, DdsEncoding encoding, ByteWriter& out)
{
    for (uint32_t by = 0; by < (image.height + 3) / 4; ++by)
        for (uint32_t bx = 0; bx < (image.width + 3) / 4; ++bx) {
            const std::array<Rgba, 16> block = Block(image, bx, by);
            switch (encoding) {
            case DdsEncoding::BC1: ColourBlock(block, true, out); break;
            case DdsEncoding::BC2: {
                uint64_t alpha = 0;
                for (int i = 0; i < 16; ++i)
                    alpha |= uint64_t{Quantise(block[i][3], 15)} << (4 * i);
                for (int b = 0; b < 8; ++b)
                    out.U8(uint8_t(alpha >> (8 * b)));
                ColourBlock(block, false, out);
                break;
            }
            case DdsEncoding::BC3:
                ChannelBlock(block, 3, out);
                ColourBlock(block, false, out);
                break;
            case DdsEncoding::BC4: ChannelBlock(block, 0, out); break;
            case DdsEncoding::BC5:
                ChannelBlock(block, 0, out);
                ChannelBlock(block, 1, out);
                break;
            case DdsEncoding::BC7: Bc7Block(block, out); break;
            default: throw std::invalid_argument("not a block encoding");
            }
        }
}

RgbaImage Halve(const RgbaImage& image)
{
    RgbaImage half;
    half.width = std::max(1u, image.width / 2);
    half.height = std::max(1u, image.height / 2);
    half.rgba.resize(size_t{half.width} * half.height * 4);
    for (uint32_t y = 0; y < half.height; ++y)
        for (uint32_t x = 0; x < half.width; ++x)
            for (int c = 0; c < 4; ++c) {
                uint32_t sum = 0;
                for (uint32_t dy = 0; dy < 2; ++dy)
                    for (uint32_t dx = 0; dx < 2; ++dx) {
                        const uint32_t sx = std::min(2 * x + dx, image.width - 1),
                                       sy = std::min(2 * y + dy, image.height - 1);
                        sum += image.rgba[(size_t{sy} * image.width + sx) * 4 + c];
                    }
                half.rgba[(size_t{y} * half.width + x) * 4 + c] = uint8_t((sum + 2) / 4);
            }
    return half;
}

} // namespace

Bytes DdsFileHeader(uint32_t width, uint32_t height, const DdsSpec& spec)
{
    constexpr uint32_t caps = 0x1, heightFlag = 0x2, widthFlag = 0x4, pitchFlag = 0x8, pixelFormat = 0x1000,
                       mipCountFlag = 0x20000, linearSize = 0x80000;
    constexpr uint32_t complex = 0x8, texture = 0x1000, mipmap = 0x400000, cubeFaces = 0x200 | 0xFC00;
    const bool compressed = Compressed(spec.encoding);
    uint32_t bits = spec.headerBits;
    if (!compressed && bits == 0)
        bits = UncompressedLayout(spec.encoding).bytes * 8;
    const uint32_t pitch = compressed ? uint32_t(DdsLevelBytes(spec.encoding, width, height)) : width * bits / 8;
    ByteWriter out;
    out.Append("DDS ", 4);
    out.U32(124)
        .U32(caps | heightFlag | widthFlag | pixelFormat | (compressed ? linearSize : pitchFlag) |
             (spec.mipLevels > 1 ? mipCountFlag : 0))
        .U32(height)
        .U32(width)
        .U32(pitch)
        .U32(0)
        .U32(spec.mipLevels);
    for (int i = 0; i < 11; ++i)
        out.U32(0);
    out.U32(32);
    if (spec.dx10)
        out.U32(fourCCFlag).U32(DdsFourCC("DX10")).U32(0).U32(0).U32(0).U32(0).U32(0);
    else if (compressed)
        out.U32(fourCCFlag).U32(LegacyFourCC(spec)).U32(0).U32(0).U32(0).U32(0).U32(0);
    else {
        const Layout layout = UncompressedLayout(spec.encoding);
        const bool ownMasks = spec.headerMasks != std::array<uint32_t, 4>{};
        const std::array<uint32_t, 4> masks =
            ownMasks ? spec.headerMasks : std::array<uint32_t, 4>{layout.red, layout.green, layout.blue, layout.alpha};
        out.U32(layout.flags).U32(0).U32(bits).U32(masks[0]).U32(masks[1]).U32(masks[2]).U32(masks[3]);
    }
    out.U32(texture | (spec.mipLevels > 1 ? complex | mipmap : 0) | (spec.cubeMap ? complex : 0))
        .U32(spec.cubeMap ? cubeFaces : 0)
        .U32(0)
        .U32(0)
        .U32(0);
    if (spec.dx10)
        out.U32(Dxgi(spec)).U32(3).U32(spec.cubeMap ? 0x4 : 0).U32(1).U32(0);
    return out.Take();
}

size_t DdsLevelBytes(DdsEncoding encoding, uint32_t width, uint32_t height)
{
    if (Compressed(encoding))
        return size_t{(width + 3) / 4} * ((height + 3) / 4) * BlockBytes(encoding);
    return size_t{width} * height * UncompressedLayout(encoding).bytes;
}

Bytes EncodeDdsLevel(const RgbaImage& image, DdsEncoding encoding)
{
    if (image.rgba.size() != size_t{image.width} * image.height * 4 || image.width == 0 || image.height == 0)
        throw std::invalid_argument("the image's pixels do not match its size");
    ByteWriter out;
    if (Compressed(encoding))
        EncodeBlocks(image, encoding, out);
    else
        EncodeUncompressed(image, encoding, out);
    return out.Take();
}

Bytes WriteDdsFaces(const std::vector<RgbaImage>& faces, const DdsSpec& spec)
{
    if (faces.empty())
        throw std::invalid_argument("no face to write");
    ByteWriter out;
    out.Append(DdsFileHeader(faces[0].width, faces[0].height, spec));
    for (const RgbaImage& face : faces) {
        RgbaImage level = face;
        for (uint32_t mip = 0; mip < spec.mipLevels; ++mip) {
            out.Append(EncodeDdsLevel(level, spec.encoding));
            level = Halve(level);
        }
    }
    return out.Take();
}

Bytes WriteDds(const RgbaImage& image, const DdsSpec& spec)
{
    return WriteDdsFaces(std::vector<RgbaImage>(spec.cubeMap ? 6 : 1, image), spec);
}

Bytes WriteDdsData(uint32_t width, uint32_t height, const DdsSpec& spec, const Bytes& data)
{
    return ByteWriter().Append(DdsFileHeader(width, height, spec)).Append(data).Take();
}

Bytes RandomDdsBlocks(DdsEncoding encoding, uint32_t width, uint32_t height, uint32_t seed, int bc7Mode)
{
    std::mt19937 random(seed);
    Bytes data(DdsLevelBytes(encoding, width, height));
    for (uint8_t& byte : data)
        byte = uint8_t(random());
    if (encoding == DdsEncoding::BC7 && bc7Mode >= 0)
        for (size_t i = 0; i < data.size(); i += 16) {
            const uint32_t modeBits = (2u << bc7Mode) - 1; // the mode's zeros and its one
            data[i] = uint8_t((data[i] & ~modeBits) | (1u << bc7Mode));
        }
    return data;
}

} // namespace modelwriter
