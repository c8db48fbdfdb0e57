// PNG written by our own code over zlib, in memory. Deflating is nearly all of the cost, so the
// rows are cut into bands of a fixed size, each filtered and deflated on its own (on several
// threads when given them), and the bands are joined into one zlib stream: each but the last
// ends flushed to a byte boundary without closing the stream, and the checksums are combined.
// Band sizes never depend on the thread count, so the bytes do not either.

#include "Dds.h"
#include "Parallel.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <initializer_list>
#include <memory>
#include <new>
#include <stdexcept>
#include <utility>

namespace dds {
namespace {

constexpr uint32_t maxHeight = 0x7FFFFFFF; // PNG's limit
// Narrower than PNG's limit, so that a row's bytes, and so a band and its IDAT chunk, stay
// below 1 GiB: within one call of zlib and PNG's 2 GiB chunks.
constexpr uint32_t maxWidth = (uint32_t{1} << 28) - 1;

// Filtered bytes a band holds (whole rows; at least one). A window of 32 KiB starts empty in
// each band, which costs well under 1 % of the file at this size.
constexpr size_t bandBytes = size_t{1} << 20;

// Zlib's fastest level with the Sub filter on every row: on an 8192 x 8192 RGBA texture about
// seven times faster than adaptive filters at level 6, for a file a fifth larger.
constexpr int compressionLevel = 1;
constexpr uint8_t subFilter = 1;

struct Band {
    uint32_t firstRow = 0, endRow = 0;
    size_t filteredBytes = 0;
    std::vector<uint8_t> deflated;
    uint32_t adler = 0;            // of the band's filtered bytes
    std::atomic<bool> done{false}; // set by the thread that deflated it, once it has
};

// The Sub filter: each byte less the same channel's byte one pixel to the left.
template <int channels>
void FilterRow(const uint8_t* rgba, uint32_t width, uint8_t* out)
{
    *out++ = subFilter;
    uint8_t left[4] = {0, 0, 0, 0};
    for (uint32_t x = 0; x < width; ++x, rgba += 4, out += channels)
        for (int c = 0; c < channels; ++c) {
            out[c] = uint8_t(rgba[c] - left[c]);
            left[c] = rgba[c];
        }
}

// A raw deflate stream of zlib's, kept for the bands one thread deflates.
class Deflater {
public:
    Deflater()
    {
        const int status = deflateInit2(&stream, compressionLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
        if (status == Z_MEM_ERROR)
            throw std::bad_alloc();
        if (status != Z_OK)
            throw std::runtime_error("cannot start zlib's deflate");
    }
    ~Deflater() { deflateEnd(&stream); }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    // Deflates `size` bytes; the last band closes the stream, any other ends on a byte boundary.
    void Deflate(const uint8_t* bytes, size_t size, bool last, std::vector<uint8_t>& out)
    {
        if (deflateReset(&stream) != Z_OK)
            throw std::runtime_error("cannot restart zlib's deflate");
        // The bound covers a closing block; a flush adds at most an empty stored block.
        out.resize(deflateBound(&stream, uLong(size)) + 16);
        stream.next_in = const_cast<Bytef*>(bytes);
        stream.avail_in = uInt(size);
        stream.next_out = out.data();
        stream.avail_out = uInt(out.size());
        const int status = deflate(&stream, last ? Z_FINISH : Z_SYNC_FLUSH);
        if (status != (last ? Z_STREAM_END : Z_OK) || stream.avail_in != 0)
            throw std::runtime_error("zlib's deflate did not finish a band");
        out.resize(out.size() - stream.avail_out);
    }

private:
    z_stream stream{};
};

void AppendBigEndian32(std::vector<uint8_t>& out, uint32_t value)
{
    const uint8_t bytes[4] = {uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8), uint8_t(value)};
    out.insert(out.end(), bytes, bytes + 4);
}

// A chunk: length, type, the data given in pieces, and the CRC of type and data.
void AppendChunk(std::vector<uint8_t>& out, const char type[4],
                 std::initializer_list<std::pair<const uint8_t*, size_t>> pieces)
{
    size_t length = 0;
    for (const auto& piece : pieces)
        length += piece.second;
    AppendBigEndian32(out, uint32_t(length));
    const size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    for (const auto& piece : pieces)
        out.insert(out.end(), piece.first, piece.first + piece.second);
    AppendBigEndian32(out, uint32_t(crc32_z(0, out.data() + typeAt, 4 + length)));
}

// The PNG, written in order as its bands come: the zlib header before the first band, each band
// an IDAT chunk, the checksum of the whole stream after the last.
class PngFile {
public:
    PngFile(const Image& image, bool withAlpha, const std::vector<Band>& bands)
    {
        // Room for the most the bands can deflate to: pages are only used as they are written,
        // and no band is copied twice.
        size_t most = 8 + 25 + 12 + 2 + 4 + 12;
        for (const Band& band : bands)
            most += 12 + compressBound(uLong(band.filteredBytes)) + 16;
        png.reserve(most);
        static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
        png.insert(png.end(), signature, signature + 8);
        uint8_t header[13] = {};
        for (int i = 0; i < 4; ++i) {
            header[i] = uint8_t(image.width >> (24 - 8 * i));
            header[4 + i] = uint8_t(image.height >> (24 - 8 * i));
        }
        header[8] = 8;                 // bits a channel
        header[9] = withAlpha ? 6 : 2; // RGBA or RGB; compression, filter and interlace methods 0
        AppendChunk(png, "IHDR", {{header, sizeof header}});
    }

    // Appends every band from the next one on that is done, and frees its bytes.
    void AppendDone(std::vector<Band>& bands)
    {
        static const uint8_t zlibHeader[2] = {0x78, 0x01}; // deflate, 32 KiB window, fastest level
        for (; appended < bands.size() && bands[appended].done.load(std::memory_order_acquire); ++appended) {
            Band& band = bands[appended];
            const bool last = appended + 1 == bands.size();
            adler = adler32_combine(adler, band.adler, z_off_t(band.filteredBytes));
            uint8_t trailer[4];
            for (int i = 0; i < 4; ++i)
                trailer[i] = uint8_t(adler >> (24 - 8 * i));
            AppendChunk(png, "IDAT",
                        {{zlibHeader, appended == 0 ? sizeof zlibHeader : 0},
                         {band.deflated.data(), band.deflated.size()},
                         {trailer, last ? sizeof trailer : 0}});
            std::vector<uint8_t>().swap(band.deflated);
            if (last)
                AppendChunk(png, "IEND", {});
        }
    }

    std::vector<uint8_t> Take() { return std::move(png); }

private:
    std::vector<uint8_t> png;
    size_t appended = 0;
    uLong adler = adler32_z(0, nullptr, 0);
};

// Filters and deflates the bands on up to `threads` threads. This one also writes them into the
// file as they are done, so at most a band a thread waits beside the file.
void WriteBands(const Image& image, bool withAlpha, std::vector<Band>& bands, unsigned threads, PngFile& file)
{
    const size_t rowBytes = 1 + size_t{image.width} * (withAlpha ? 4 : 3);
    struct Worker {
        std::unique_ptr<Deflater> deflater;
        std::vector<uint8_t> filtered;
    };
    std::vector<Worker> workers(std::min<size_t>(threads, bands.size()));
    detail::RunParts(bands.size(), threads, [&](size_t b, unsigned w) {
        Worker& worker = workers[w];
        if (!worker.deflater)
            worker.deflater = std::make_unique<Deflater>();
        Band& band = bands[b];
        worker.filtered.resize(band.filteredBytes);
        uint8_t* out = worker.filtered.data();
        for (uint32_t y = band.firstRow; y < band.endRow; ++y, out += rowBytes) {
            const uint8_t* row = image.rgba.data() + size_t{y} * image.width * 4;
            if (withAlpha)
                FilterRow<4>(row, image.width, out);
            else
                FilterRow<3>(row, image.width, out);
        }
        band.adler = uint32_t(adler32_z(adler32_z(0, nullptr, 0), worker.filtered.data(), band.filteredBytes));
        worker.deflater->Deflate(worker.filtered.data(), band.filteredBytes, b + 1 == bands.size(), band.deflated);
        band.done.store(true, std::memory_order_release);
        if (w == 0)
            file.AppendDone(bands);
    });
    file.AppendDone(bands); // those the other threads finished last
}

} // namespace

std::vector<uint8_t> EncodePng(const Image& image, bool withAlpha, unsigned threads)
{
    if (image.width == 0 || image.height == 0 || image.width > maxWidth || image.height > maxHeight ||
        image.rgba.size() / 4 / image.width != image.height || image.rgba.size() % (size_t{image.width} * 4) != 0)
        throw std::runtime_error("cannot write a PNG of a " + std::to_string(image.width) + " x " +
                                 std::to_string(image.height) + " image holding " + std::to_string(image.rgba.size()) +
                                 " bytes");
    const size_t rowBytes = 1 + size_t{image.width} * (withAlpha ? 4 : 3);
    const uint32_t bandRows = uint32_t(std::clamp<size_t>(bandBytes / rowBytes, 1, image.height));
    std::vector<Band> bands((image.height + bandRows - 1) / bandRows);
    for (size_t b = 0; b < bands.size(); ++b) {
        bands[b].firstRow = uint32_t(b * bandRows);
        bands[b].endRow = uint32_t(std::min<size_t>(image.height, (b + 1) * bandRows));
        bands[b].filteredBytes = rowBytes * (bands[b].endRow - bands[b].firstRow);
    }
    PngFile file(image, withAlpha, bands);
    WriteBands(image, withAlpha, bands, std::max(1u, threads), file);
    return file.Take();
}

} // namespace dds
