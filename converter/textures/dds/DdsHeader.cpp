// The DDS header, its DX10 extension and the pixel formats they name.

#include "DdsFormat.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace dds::detail {
namespace {

constexpr size_t magicSize = 4, headerSize = 124, dx10Size = 20;

// DDS_PIXELFORMAT flags.
constexpr uint32_t alphaPixels = 0x1, alphaOnly = 0x2, fourCCFlag = 0x4, rgbFlag = 0x40, luminanceFlag = 0x20000;
// dwCaps2 and the DX10 misc flag.
constexpr uint32_t cubeMapCaps = 0x200, volumeCaps = 0x200000, cubeMapMisc = 0x4;
constexpr uint32_t texture3d = 4; // D3D10_RESOURCE_DIMENSION_TEXTURE3D

uint32_t Load32(const uint8_t* bytes)
{
    uint32_t value;
    std::memcpy(&value, bytes, sizeof value);
    return value; // every target we build for is little-endian
}

constexpr uint32_t FourCC(const char (&code)[5])
{
    return uint32_t(uint8_t(code[0])) | uint32_t(uint8_t(code[1])) << 8 | uint32_t(uint8_t(code[2])) << 16 |
           uint32_t(uint8_t(code[3])) << 24;
}

std::string Hex(uint32_t value)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text = "0x";
    for (int shift = 28; shift >= 0; shift -= 4)
        text += digits[(value >> shift) & 0xF];
    return text;
}

// A FourCC as text when it is printable, else its value.
std::string FourCCText(uint32_t code)
{
    std::string text;
    for (int i = 0; i < 4; ++i) {
        const char c = char((code >> (8 * i)) & 0xFF);
        if (c < 0x20 || c > 0x7E)
            return Hex(code);
        text += c;
    }
    return "'" + text + "'";
}

Format Blocks(const std::string& name, Codec codec)
{
    return Format{name, codec, {}};
}

Format Masked(const std::string& name, uint32_t bytes, uint32_t red, uint32_t green, uint32_t blue, uint32_t alpha,
              bool luminance = false)
{
    return Format{name, Codec::Masked, Masks{bytes, red, green, blue, alpha, luminance}};
}

bool Refuse(std::string& problem, const std::string& what)
{
    problem = what;
    return false;
}

bool LegacyFourCC(uint32_t code, Format& format, std::string& problem)
{
    switch (code) {
    case FourCC("DXT1"): format = Blocks("DXT1", Codec::Bc1); return true;
    case FourCC("DXT2"): format = Blocks("DXT2", Codec::Bc2); return true; // premultiplied: kept as stored
    case FourCC("DXT3"): format = Blocks("DXT3", Codec::Bc2); return true;
    case FourCC("DXT4"): format = Blocks("DXT4", Codec::Bc3); return true;
    case FourCC("DXT5"): format = Blocks("DXT5", Codec::Bc3); return true;
    case FourCC("ATI1"):
    case FourCC("BC4U"): format = Blocks("BC4", Codec::Bc4); return true;
    case FourCC("ATI2"):
    case FourCC("BC5U"): format = Blocks("BC5", Codec::Bc5); return true;
    case FourCC("BC4S"):
    case FourCC("BC5S"): return Refuse(problem, "signed BC4 and BC5 textures are not supported");
    default: return Refuse(problem, "unknown pixel format: FourCC " + FourCCText(code));
    }
}

bool DxgiFormat(uint32_t dxgi, Format& format, std::string& problem)
{
    switch (dxgi) {
    case 24: format = Masked("R10G10B10A2", 4, 0x3FF, 0xFFC00, 0x3FF00000, 0xC0000000); return true;
    case 27:
    case 28: format = Masked("R8G8B8A8", 4, 0xFF, 0xFF00, 0xFF0000, 0xFF000000); return true;
    case 29: format = Masked("R8G8B8A8 sRGB", 4, 0xFF, 0xFF00, 0xFF0000, 0xFF000000); return true;
    case 49: format = Masked("R8G8", 2, 0xFF, 0xFF00, 0, 0); return true;
    case 61: format = Masked("R8", 1, 0xFF, 0, 0, 0, true); return true;
    case 65: format = Masked("A8", 1, 0, 0, 0, 0xFF); return true;
    case 70:
    case 71: format = Blocks("BC1", Codec::Bc1); return true;
    case 72: format = Blocks("BC1 sRGB", Codec::Bc1); return true;
    case 73:
    case 74: format = Blocks("BC2", Codec::Bc2); return true;
    case 75: format = Blocks("BC2 sRGB", Codec::Bc2); return true;
    case 76:
    case 77: format = Blocks("BC3", Codec::Bc3); return true;
    case 78: format = Blocks("BC3 sRGB", Codec::Bc3); return true;
    case 79:
    case 80: format = Blocks("BC4", Codec::Bc4); return true;
    case 82:
    case 83: format = Blocks("BC5", Codec::Bc5); return true;
    case 81:
    case 84: return Refuse(problem, "signed BC4 and BC5 textures are not supported");
    case 85: format = Masked("B5G6R5", 2, 0xF800, 0x07E0, 0x001F, 0); return true;
    case 86: format = Masked("B5G5R5A1", 2, 0x7C00, 0x03E0, 0x001F, 0x8000); return true;
    case 87:
    case 90: format = Masked("B8G8R8A8", 4, 0xFF0000, 0xFF00, 0xFF, 0xFF000000); return true;
    case 91: format = Masked("B8G8R8A8 sRGB", 4, 0xFF0000, 0xFF00, 0xFF, 0xFF000000); return true;
    case 88:
    case 92: format = Masked("B8G8R8X8", 4, 0xFF0000, 0xFF00, 0xFF, 0); return true;
    case 93: format = Masked("B8G8R8X8 sRGB", 4, 0xFF0000, 0xFF00, 0xFF, 0); return true;
    case 94:
    case 95:
    case 96: return Refuse(problem, "BC6H (HDR) textures are not supported");
    case 97:
    case 98: format = Blocks("BC7", Codec::Bc7); return true;
    case 99: format = Blocks("BC7 sRGB", Codec::Bc7); return true;
    case 115: format = Masked("B4G4R4A4", 2, 0x0F00, 0x00F0, 0x000F, 0xF000); return true;
    default: return Refuse(problem, "unknown pixel format: DXGI format " + std::to_string(dxgi));
    }
}

// The usual names of mask layouts; any other layout decodes all the same, by its masks.
std::string MaskName(const Masks& m)
{
    struct Known {
        const char* name;
        uint32_t bytes, red, green, blue, alpha;
        bool luminance;
    };
    static const Known known[] = {
        {"A8R8G8B8", 4, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, false},
        {"X8R8G8B8", 4, 0xFF0000, 0xFF00, 0xFF, 0, false},
        {"A8B8G8R8", 4, 0xFF, 0xFF00, 0xFF0000, 0xFF000000, false},
        {"X8B8G8R8", 4, 0xFF, 0xFF00, 0xFF0000, 0, false},
        {"A2R10G10B10", 4, 0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000, false},
        {"A2B10G10R10", 4, 0x3FF, 0xFFC00, 0x3FF00000, 0xC0000000, false},
        {"G16R16", 4, 0xFFFF, 0xFFFF0000, 0, 0, false},
        {"R8G8B8", 3, 0xFF0000, 0xFF00, 0xFF, 0, false},
        {"R5G6B5", 2, 0xF800, 0x07E0, 0x001F, 0, false},
        {"A1R5G5B5", 2, 0x7C00, 0x03E0, 0x001F, 0x8000, false},
        {"X1R5G5B5", 2, 0x7C00, 0x03E0, 0x001F, 0, false},
        {"A4R4G4B4", 2, 0x0F00, 0x00F0, 0x000F, 0xF000, false},
        {"X4R4G4B4", 2, 0x0F00, 0x00F0, 0x000F, 0, false},
        {"A8R3G3B2", 2, 0xE0, 0x1C, 0x03, 0xFF00, false},
        {"R3G3B2", 1, 0xE0, 0x1C, 0x03, 0, false},
        {"L16", 2, 0xFFFF, 0, 0, 0, true},
        {"A8L8", 2, 0xFF, 0, 0, 0xFF00, true},
        {"L8", 1, 0xFF, 0, 0, 0, true},
        {"A4L4", 1, 0x0F, 0, 0, 0xF0, true},
        {"A8", 1, 0, 0, 0, 0xFF, false},
    };
    for (const Known& k : known)
        if (k.bytes == m.bytesPerPixel && k.red == m.red && k.green == m.green && k.blue == m.blue &&
            k.alpha == m.alpha && k.luminance == m.luminance)
            return k.name;
    return "uncompressed " + std::to_string(m.bytesPerPixel * 8) + "-bit (masks " + Hex(m.red) + " " + Hex(m.green) +
           " " + Hex(m.blue) + " " + Hex(m.alpha) + ")";
}

// A legacy pixel format without a FourCC: named by its flags, bit count and masks.
bool LegacyMasks(const uint8_t* pf, Format& format, std::string& problem)
{
    const uint32_t flags = Load32(pf + 4), bits = Load32(pf + 12);
    if (bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return Refuse(problem, "unknown pixel format: " + std::to_string(bits) + " bits a pixel");
    const uint32_t keep = bits == 32 ? 0xFFFFFFFF : (uint32_t{1} << bits) - 1; // masks past the pixel read nothing
    Masks masks;
    masks.bytesPerPixel = bits / 8;
    const uint32_t alpha = (flags & (alphaPixels | alphaOnly)) ? Load32(pf + 28) & keep : 0;
    if (flags & rgbFlag) {
        masks.red = Load32(pf + 16) & keep;
        masks.green = Load32(pf + 20) & keep;
        masks.blue = Load32(pf + 24) & keep;
        masks.alpha = alpha;
    } else if (flags & luminanceFlag) {
        masks.red = Load32(pf + 16) & keep;
        masks.alpha = alpha;
        masks.luminance = true;
    } else if (flags & alphaOnly) {
        masks.alpha = alpha;
    } else {
        return Refuse(problem, "unknown pixel format: flags " + Hex(flags));
    }
    if ((masks.red | masks.green | masks.blue | masks.alpha) == 0)
        return Refuse(problem, "unknown pixel format: every channel mask is empty");
    format = Format{MaskName(masks), Codec::Masked, masks};
    return true;
}

// Saturating product, so an absurd size compares as too large instead of wrapping.
uint64_t Multiply(uint64_t a, uint64_t b)
{
    return (a != 0 && b > UINT64_MAX / a) ? UINT64_MAX : a * b;
}

uint64_t Add(uint64_t a, uint64_t b)
{
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

// Counts the pixels in every level and face the header names; a reading of n bytes a pixel needs
// n times as many bytes. Returns UINT64_MAX, which fits no file, for more levels than the mip
// chain can have.
uint64_t AllPixels(const uint8_t* header, bool cubeMap)
{
    const uint32_t height = Load32(header + 8), width = Load32(header + 12);
    const uint32_t levels = std::max(1u, Load32(header + 24)); // 0 and 1 both mean the top level only
    uint32_t chain = 1;
    for (uint32_t longest = std::max(width, height); longest > 1; longest >>= 1)
        ++chain;
    if (levels > chain)
        return UINT64_MAX;
    uint64_t total = 0;
    for (uint32_t i = 0; i < levels; ++i)
        total = Add(total, Multiply(std::max(1u, width >> i), std::max(1u, height >> i)));
    return Multiply(total, cubeMap ? 6 : 1);
}

bool Same(const Masks& a, const Masks& b)
{
    return a.bytesPerPixel == b.bytesPerPixel && a.red == b.red && a.green == b.green && a.blue == b.blue &&
           a.alpha == b.alpha && a.luminance == b.luminance;
}

// Some writers' grey textures misstate their pixels: a bit count above what a pixel holds, or
// masks past the bits counted. If the header's reading does not fill the file's levels and faces
// exactly, each reading the flags and masks allow is checked against the file's size.
// Returns true, with the format and a note, when exactly one fits.
bool FitLuminance(const uint8_t* header, uint64_t fileSize, Layout& layout)
{
    const uint8_t* pf = header + 72;
    const uint32_t flags = Load32(pf + 4), bits = Load32(pf + 12);
    const bool withAlpha = (flags & (alphaPixels | alphaOnly)) != 0;
    const uint32_t grey = Load32(pf + 16), alpha = withAlpha ? Load32(pf + 28) : 0;
    // Volume textures are left alone: no writer is known to misstate them, and their slices
    // would make chance fits likelier.
    if ((flags & (luminanceFlag | rgbFlag | fourCCFlag)) != luminanceFlag || grey == 0 || bits == 0 || bits > 32 ||
        bits % 8 != 0 || layout.volume || layout.header.width == 0 || layout.header.height == 0)
        return false;

    const uint64_t pixels = AllPixels(header, layout.header.cubeMap);
    auto fits = [&](const Masks& m) {
        const uint64_t needed = Add(layout.dataOffset, Multiply(pixels, m.bytesPerPixel));
        return needed != UINT64_MAX && needed == fileSize;
    };
    std::array<Masks, 3> readings{};
    size_t count = 0;
    const uint32_t kept = bits == 32 ? 0xFFFFFFFF : (uint32_t{1} << bits) - 1;
    if (((grey | alpha) & ~kept) == 0) { // the header agrees with itself
        readings[count] = Masks{bits / 8, grey, 0, 0, alpha, true};
        if (fits(readings[count++]))
            return false;
    }
    uint32_t reach = 1; // the masks as written, in as many bytes as they reach
    while (reach < 4 && ((grey | alpha) >> (8 * reach)) != 0)
        ++reach;
    readings[count++] = Masks{reach, grey, 0, 0, alpha, true};
    readings[count++] = withAlpha ? Masks{2, 0xFF, 0, 0, 0xFF00, true} : Masks{1, 0xFF, 0, 0, 0, true};

    const Masks* fit = nullptr;
    int fitting = 0;
    for (size_t i = 0; i < count; ++i)
        if (fits(readings[i]) && std::none_of(readings.begin(), readings.begin() + i,
                                              [&](const Masks& m) { return Same(m, readings[i]); })) {
            fit = &readings[i];
            ++fitting;
        }
    // Size is the only evidence, so a reading is taken only when it alone fits.
    if (fitting != 1)
        return false;
    layout.format = Format{MaskName(*fit), Codec::Masked, *fit};
    const uint32_t held = fit->bytesPerPixel * 8;
    layout.note = held != bits ? "the header says " + std::to_string(bits) + " bits a pixel, but the file holds " +
                                     std::to_string(held) + ": read as " + layout.format.name
                               : "the header's channel masks lie outside its " + std::to_string(bits) +
                                     "-bit pixels: read as " + layout.format.name;
    return true;
}

} // namespace

uint64_t TopLevelBytes(const Format& format, uint32_t width, uint32_t height)
{
    if (format.codec == Codec::Masked)
        return Multiply(uint64_t{width} * format.masks.bytesPerPixel, height);
    const uint64_t blockBytes = (format.codec == Codec::Bc1 || format.codec == Codec::Bc4) ? 8 : 16;
    const uint64_t blocks = ((uint64_t{width} + 3) / 4) * ((uint64_t{height} + 3) / 4);
    return Multiply(blocks, blockBytes);
}

bool ReadLayout(const uint8_t* bytes, size_t size, uint64_t fileSize, Layout& layout, std::string& problem)
{
    layout = Layout{};
    if (size == 0)
        return Refuse(problem, "the file is empty");
    if (size < magicSize || std::memcmp(bytes, "DDS ", magicSize) != 0)
        return Refuse(problem, "not a DDS file: it does not begin with \"DDS \"");
    if (size - magicSize < headerSize)
        return Refuse(problem, "the file is truncated: it ends inside the " + std::to_string(headerSize) +
                                   "-byte header, after " + std::to_string(size) + " bytes");
    const uint8_t* header = bytes + magicSize;
    const uint8_t* pf = header + 72;
    layout.header.height = Load32(header + 8);
    layout.header.width = Load32(header + 12);
    const uint32_t depth = Load32(header + 20);
    const uint32_t caps2 = Load32(header + 108);
    layout.header.cubeMap = (caps2 & cubeMapCaps) != 0;
    layout.volume = (caps2 & volumeCaps) != 0 && depth > 1;
    layout.dataOffset = magicSize + headerSize;

    const uint32_t flags = Load32(pf + 4), fourCC = Load32(pf + 8);
    if ((flags & fourCCFlag) && fourCC == FourCC("DX10")) {
        if (size - layout.dataOffset < dx10Size)
            return Refuse(problem, "the file is truncated: it ends inside the DX10 header extension");
        const uint8_t* dx10 = bytes + layout.dataOffset;
        layout.dataOffset += dx10Size;
        layout.header.cubeMap = (Load32(dx10 + 8) & cubeMapMisc) != 0;
        layout.volume = Load32(dx10 + 4) == texture3d && depth > 1;
        layout.arraySize = Load32(dx10 + 12);
        if (!DxgiFormat(Load32(dx10), layout.format, problem))
            return false;
    } else if (flags & fourCCFlag) {
        if (!LegacyFourCC(fourCC, layout.format, problem))
            return false;
    } else {
        const bool named = LegacyMasks(pf, layout.format, problem);
        if (FitLuminance(header, fileSize, layout))
            problem.clear();
        else if (!named)
            return false;
    }
    layout.header.format = layout.format.name;
    if (layout.header.width == 0 || layout.header.height == 0)
        return Refuse(problem, "the image has no pixels: " + std::to_string(layout.header.width) + " x " +
                                   std::to_string(layout.header.height));
    return true;
}

} // namespace dds::detail

namespace dds {

bool ReadHeader(const uint8_t* bytes, size_t size, Header& header, std::string& problem, uint64_t fileSize)
{
    detail::Layout layout;
    if (!detail::ReadLayout(bytes, size, std::max<uint64_t>(size, fileSize), layout, problem))
        return false;
    header = layout.header;
    const uint64_t pixelBytes = detail::TopLevelBytes(layout.format, header.width, header.height);
    header.topLevelEnd = pixelBytes > UINT64_MAX - layout.dataOffset ? UINT64_MAX : layout.dataOffset + pixelBytes;
    return true;
}

} // namespace dds
