// PNG read through libpng, in memory. libpng reports errors by longjmp, so each function that
// calls it under setjmp holds only plain values; the C++ objects live in its caller.

#include "Dds.h"

#include <png.h>

#include <cstring>
#include <new>
#include <stdexcept>

namespace dds {
namespace {

// What the callbacks share with the calling code. It is plain data because longjmp jumps across it.
struct PngContext {
    const uint8_t* input = nullptr;
    size_t inputSize = 0, inputPosition = 0;
    char message[160] = {};
};

PngContext& Context(png_structp png)
{
    return *static_cast<PngContext*>(png_get_error_ptr(png));
}

[[noreturn]] void OnError(png_structp png, png_const_charp message)
{
    PngContext& context = Context(png);
    std::strncpy(context.message, message ? message : "unknown error", sizeof context.message - 1);
    png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

void Read(png_structp png, png_bytep data, png_size_t length)
{
    PngContext& context = *static_cast<PngContext*>(png_get_io_ptr(png));
    if (length > context.inputSize - context.inputPosition)
        png_error(png, "the data ends early");
    std::memcpy(data, context.input + context.inputPosition, length);
    context.inputPosition += length;
}

// Reads the header and sets up the transformations that turn any PNG into 8-bit RGBA.
bool ReadInfo(png_structp png, png_infop info, uint32_t& width, uint32_t& height)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_info(png, info);
    width = png_get_image_width(png, info);
    height = png_get_image_height(png, info);
    const int colourType = png_get_color_type(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    if (colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_GRAY_ALPHA)
        png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    return png_get_rowbytes(png, info) == size_t{width} * 4;
}

bool ReadRows(png_structp png, png_bytepp rows)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_image(png, rows);
    png_read_end(png, nullptr);
    return true;
}

} // namespace

bool DecodePng(const uint8_t* bytes, size_t size, Image& image, std::string& problem, uint64_t maxPixels)
{
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (size < sizeof signature || std::memcmp(bytes, signature, sizeof signature) != 0) {
        problem = "not a PNG file";
        return false;
    }
    PngContext context;
    context.input = bytes;
    context.inputSize = size;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &context, OnError, OnWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        throw std::bad_alloc();
    }
    png_set_read_fn(png, &context, Read);
    png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);

    bool read = false;
    uint32_t width = 0, height = 0;
    try {
        if (!ReadInfo(png, info, width, height)) {
            problem = context.message[0] ? std::string("a damaged PNG: ") + context.message : "an unsupported PNG";
        } else if (uint64_t{width} * height > maxPixels || uint64_t{width} * height > SIZE_MAX / 4) {
            problem = "the image is too large: " + std::to_string(width) + " x " + std::to_string(height);
        } else {
            Image decoded;
            decoded.width = width;
            decoded.height = height;
            decoded.rgba.resize(size_t{width} * height * 4);
            std::vector<png_bytep> rows(height);
            for (uint32_t y = 0; y < height; ++y)
                rows[y] = decoded.rgba.data() + size_t{y} * width * 4;
            read = ReadRows(png, rows.data());
            if (read)
                image = std::move(decoded);
            else
                problem = std::string("a damaged PNG: ") + context.message;
        }
    } catch (...) {
        png_destroy_read_struct(&png, &info, nullptr);
        throw;
    }
    png_destroy_read_struct(&png, &info, nullptr);
    return read;
}

} // namespace dds
