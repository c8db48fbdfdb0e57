#include "TextureCache.h"

#include "Dds.h"
#include "UniqueNames.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <iterator>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

struct TextureCache::File {
    std::string path; // as first named
    uint64_t size = 0;
    int64_t modified = 0; // nanoseconds: a file rewritten in place is read again
    SharedBytes bytes;
    std::string readProblem;
    bool hashed = false;
    uint64_t hash = 0;    // of the whole file's bytes
    bool decoded = false; // tried, and its PNG (if any) still kept
    SharedBytes png;
    uint32_t width = 0, height = 0; // from its header, once read
    TextureAlpha alpha = TextureAlpha::Opaque;
    std::string decodeProblem;
    std::vector<std::string> notes;
    bool isKept = false;
    uint64_t counted = 0; // its share of keptBytes
};

// Per output folder: the copies' names, and which file took each first.
struct TextureCache::CopyFolder {
    UniqueNames names;
    std::map<std::string, std::vector<std::pair<File*, std::string>>> given; // name from the hash: (file, name given)
};

struct TextureCache::Tally {
    uint64_t held = 0, peak = 0;
};

namespace {

fs::path Absolute(const std::string& path)
{
    return fs::absolute(fs::path(path)).lexically_normal();
}

std::string SizeText(uint64_t bytes)
{
    return bytes >= (uint64_t{1} << 20) ? std::to_string(bytes >> 20) + " MiB" : std::to_string(bytes) + " bytes";
}

// Why a path cannot be stat'ed, in words.
std::string StatProblem(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR: return TextureCache::absentProblem;
    case ENAMETOOLONG: return "has a name too long for the file system";
    default: return std::string("cannot be read: ") + std::strerror(error);
    }
}

// An open file, closed on every path.
class OpenFile {
public:
    explicit OpenFile(const std::string& path) : fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY)) {}
    ~OpenFile()
    {
        if (fd >= 0)
            close(fd);
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    // Whether the file is open and still a regular file of the size stat'ed.
    bool Check(uint64_t size, std::string& problem) const
    {
        struct stat status {};
        if (fd < 0)
            problem = std::string("cannot be opened: ") + std::strerror(errno);
        else if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || uint64_t(status.st_size) != size)
            problem = "changed while it was being read";
        return problem.empty();
    }
    // Appends `count` bytes from `offset` to `bytes`.
    bool Read(uint64_t offset, size_t count, std::vector<uint8_t>& bytes, std::string& problem) const
    {
        const size_t start = bytes.size();
        bytes.resize(start + count);
        for (size_t done = 0; done < count;) {
            const ssize_t got = pread(fd, bytes.data() + start + done, count - done, off_t(offset + done));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                problem =
                    got < 0 ? std::string("cannot be read: ") + std::strerror(errno) : "ended before its stated size";
                return false;
            }
            done += size_t(got);
        }
        return true;
    }

private:
    int fd;
};

// The largest DDS header: magic, header and DX10 extension.
constexpr size_t ddsHeaderBytes = 4 + 124 + 20;

// Encodes the top level as PNG (RGB when every pixel is opaque, else RGBA), or returns false with
// `problem` for bytes we cannot read as DDS. The bytes are released once decoded, never held
// with the PNG; the pixels go before the PNG is handed on. `fileSize` is the whole file's size;
// the bytes may hold just its top level.
bool DecodeToPng(SharedBytes bytes, uint64_t fileSize, unsigned threads, std::vector<uint8_t>& png, TextureAlpha& alpha,
                 std::string& problem, std::vector<std::string>& notes)
{
    dds::Image image;
    if (!dds::Decode(bytes->data(), bytes->size(), image, problem, notes, TextureCache::maxPixels, fileSize, threads))
        return false;
    bytes.reset();
    switch (dds::ClassifyAlpha(image)) {
    case dds::Alpha::Opaque: alpha = TextureAlpha::Opaque; break;
    case dds::Alpha::Cutout: alpha = TextureAlpha::Cutout; break;
    case dds::Alpha::Blended: alpha = TextureAlpha::Blended; break;
    }
    try {
        png = dds::EncodePng(image, alpha != TextureAlpha::Opaque, threads);
        return true;
    } catch (const std::runtime_error&) {
        problem = "its pixels could not be made a PNG";
        return false;
    }
}

// A 64-bit hash of the bytes, the same on every machine. Each 8-byte little-endian word is
// mixed by multiplies and xor-shifts and folded in, with the length last, so bytes that differ
// only by trailing zeros hash differently. It is not proof against bytes made to collide.
uint64_t ContentHash(const uint8_t* bytes, size_t size)
{
    constexpr uint64_t multiplier = 0x9E3779B97F4A7C15, mixer = 0xD6E8FEB86659FD93;
    const auto mix = [](uint64_t x) {
        x = (x ^ (x >> 32)) * mixer;
        x = (x ^ (x >> 29)) * mixer;
        return x ^ (x >> 32);
    };
    uint64_t hash = 0;
    for (size_t at = 0; at < size; at += 8) {
        uint64_t word = 0;
        for (size_t b = 0; b < 8 && at + b < size; ++b)
            word |= uint64_t{bytes[at + b]} << (8 * b);
        hash = (hash ^ mix(word)) * multiplier;
    }
    return mix(hash ^ uint64_t{size});
}

// `wanted` with the hash after its stem: "crate.512.dds" becomes "crate.512-0123456789abcdef.dds".
// A stem that would make the name too long for a file system is cut short.
std::string HashedName(const std::string& wanted, uint64_t hash)
{
    const fs::path path(wanted);
    std::string stem = path.stem().string(), extension = path.extension().string();
    if (extension.size() > 16) { // not an extension to keep: the hash goes at the end
        stem = wanted;
        extension.clear();
    }
    char suffix[18];
    std::snprintf(suffix, sizeof suffix, "-%016llx", static_cast<unsigned long long>(hash));
    constexpr size_t nameMax = 255;
    // Leave room for UniqueNames' "_N" too, in case two hashes ever collide.
    const size_t room = nameMax - std::strlen(suffix) - extension.size() - 8;
    if (stem.size() > room)
        stem.resize(room);
    return stem + suffix + extension;
}

} // namespace

TextureCache::TextureCache(uint64_t limit, unsigned threadCount)
    : keptLimit(limit), threads(threadCount), tally(std::make_shared<Tally>())
{
}
TextureCache::~TextureCache() = default;

uint64_t TextureCache::BytesHeld() const
{
    return tally->held;
}

uint64_t TextureCache::PeakBytesHeld() const
{
    return tally->peak;
}

// Bytes the tally counts for as long as anyone holds them.
SharedBytes TextureCache::Held(std::vector<uint8_t>&& bytes)
{
    const uint64_t size = bytes.size();
    auto* held = new std::vector<uint8_t>(std::move(bytes));
    tally->held += size;
    tally->peak = std::max(tally->peak, tally->held);
    const std::shared_ptr<Tally> counter = tally;
    return SharedBytes(held, [counter, size](const std::vector<uint8_t>* gone) {
        counter->held -= size;
        delete gone;
    });
}

TextureCache::File* TextureCache::Find(const std::string& path, std::string& problem, bool* absent)
{
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        const int error = errno;
        problem = StatProblem(error);
        if (absent)
            *absent = error == ENOENT || error == ENOTDIR;
        return nullptr;
    }
    if (!S_ISREG(status.st_mode)) {
        problem = "is not a file";
        return nullptr;
    }
    if (uint64_t(status.st_size) > maxFileSize) {
        problem = "is too large for a texture (" + SizeText(uint64_t(status.st_size)) + "; at most " +
                  SizeText(maxFileSize) + ")";
        return nullptr;
    }
    std::unique_ptr<File>& file = files[{uint64_t(status.st_dev), uint64_t(status.st_ino)}];
    const int64_t modified = int64_t(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
    if (file && (file->size != uint64_t(status.st_size) || file->modified != modified)) {
        // The file was rewritten since it was read: forget everything learnt about it.
        keptBytes -= file->counted;
        File fresh;
        fresh.path = file->path;
        fresh.isKept = file->isKept;
        *file = std::move(fresh);
    }
    if (!file) {
        file = std::make_unique<File>();
        file->path = path;
    }
    file->size = uint64_t(status.st_size);
    file->modified = modified;
    return file.get();
}

SharedBytes TextureCache::Bytes(File& file, std::string& problem)
{
    SharedBytes bytes = file.bytes;
    if (!bytes && file.readProblem.empty()) {
        ++reads;
        const OpenFile opened(file.path);
        bytesRead += file.size;
        try {
            std::vector<uint8_t> read;
            if (opened.Check(file.size, file.readProblem) && opened.Read(0, size_t(file.size), read, file.readProblem))
                bytes = Held(std::move(read));
        } catch (const std::bad_alloc&) {
            file.readProblem = "cannot be read: there is not enough memory to hold its " + SizeText(file.size);
        }
        if (bytes && !file.hashed) {
            file.hash = ContentHash(bytes->data(), bytes->size());
            file.hashed = true;
        }
        if (bytes) {
            file.bytes = bytes;
            Keep(file);
        }
    }
    problem = file.readProblem;
    return bytes;
}

SharedBytes TextureCache::Png(File& file, TextureAlpha& alpha, std::string& problem, std::vector<std::string>& notes)
{
    SharedBytes png = file.png;
    if (!file.decoded) {
        file.decoded = true;
        ++decodes;
        png = Decode(file);
        if (png) {
            file.png = png;
            Keep(file);
        }
    }
    alpha = file.alpha;
    problem = file.decodeProblem;
    notes.insert(notes.end(), file.notes.begin(), file.notes.end());
    return png;
}

// Makes the file's PNG afresh, or returns null with its decodeProblem set. Running out of memory
// counts as such a problem too, so only the texture is left out, not the whole output.
SharedBytes TextureCache::Decode(File& file)
{
    file.notes.clear();
    file.decodeProblem.clear();
    std::string why;
    bool readFailed = false;
    try {
        // Use the whole file when it is already at hand, else read only what the decode needs.
        SharedBytes bytes = file.bytes;
        if (bytes) {
            dds::Header header;
            if (dds::ReadHeader(bytes->data(), bytes->size(), header, why, file.size)) {
                file.width = header.width;
                file.height = header.height;
            }
        } else {
            bytes = ReadTopLevel(file, why, readFailed);
        }
        if (bytes && decodeAllocationLimit &&
            std::max<uint64_t>(bytes->size(), uint64_t{file.width} * file.height * 4) > decodeAllocationLimit)
            throw std::bad_alloc();
        std::vector<uint8_t> png;
        if (bytes && DecodeToPng(std::move(bytes), file.size, threads, png, file.alpha, why, file.notes))
            return Held(std::move(png));
    } catch (const std::bad_alloc&) {
        file.notes.clear();
        file.alpha = TextureAlpha::Opaque;
        file.decodeProblem = "cannot be decoded: there is not enough memory to decode it";
        if (file.width)
            file.decodeProblem += ": " + std::to_string(file.width) + " x " + std::to_string(file.height) + " pixels";
        return nullptr;
    }
    file.decodeProblem = readFailed ? why : "cannot be decoded as DDS (" + why + ")";
    return nullptr;
}

// Reads the header first, so a texture that claims more pixels than we decode, or more bytes
// than the file holds, costs no more than its header; then reads up to the top level's end.
SharedBytes TextureCache::ReadTopLevel(File& file, std::string& problem, bool& readFailed)
{
    ++reads;
    const OpenFile opened(file.path);
    std::vector<uint8_t> bytes;
    const size_t headerBytes = size_t(std::min<uint64_t>(file.size, ddsHeaderBytes));
    bytesRead += headerBytes;
    readFailed = !opened.Check(file.size, problem) || !opened.Read(0, headerBytes, bytes, problem);
    if (readFailed)
        return nullptr;
    dds::Header header;
    if (!dds::ReadHeader(bytes.data(), bytes.size(), header, problem, file.size))
        return nullptr;
    file.width = header.width;
    file.height = header.height;
    if (uint64_t{header.width} * header.height > maxPixels) {
        problem = "the image is too large: " + std::to_string(header.width) + " x " + std::to_string(header.height) +
                  " pixels, more than the " + std::to_string(maxPixels >> 20) + " Mi pixels we decode";
        return nullptr;
    }
    if (header.topLevelEnd > file.size) {
        problem = "the file is truncated: its " + std::to_string(header.width) + " x " + std::to_string(header.height) +
                  " " + header.format + " image needs " + std::to_string(header.topLevelEnd) +
                  " bytes, the file holds " + std::to_string(file.size);
        return nullptr;
    }
    const size_t rest = size_t(header.topLevelEnd) - std::min(bytes.size(), size_t(header.topLevelEnd));
    bytesRead += rest;
    readFailed = !opened.Read(bytes.size(), rest, bytes, problem);
    return readFailed ? nullptr : Held(std::move(bytes));
}

void TextureCache::Keep(File& file)
{
    keptBytes -= file.counted;
    file.counted = (file.bytes ? file.bytes->size() : 0) + (file.png ? file.png->size() : 0);
    keptBytes += file.counted;
    // A file taking more than a quarter of the bound would push out most others and hold a large
    // texture's memory for the rest of the run, so it is not kept: whoever holds it now releases
    // it when done.
    if (file.counted > keptLimit / 4)
        return Drop(file);
    if (!file.isKept) {
        kept.push_back(&file);
        file.isKept = true;
    }
    // The oldest files go first, never the one in hand; anyone holding their bytes keeps them until done.
    while (keptBytes > keptLimit && kept.size() > 1) {
        File& old = *kept.front();
        kept.pop_front();
        if (&old == &file) {
            kept.push_back(&file);
            continue;
        }
        old.isKept = false;
        Drop(old);
    }
}

// Releases the file's bytes and PNG; what was learnt about it (its hash, its problems) stays.
void TextureCache::Drop(File& file)
{
    keptBytes -= file.counted;
    file.counted = 0;
    file.bytes.reset();
    if (file.png) {
        file.png.reset();
        file.decoded = false; // made again when next wanted
    }
}

std::string TextureCache::CopyName(const std::string& folder, File& file, const std::string& wanted,
                                   std::string& problem)
{
    if (!file.hashed && !Bytes(file, problem))
        return {};
    std::unique_ptr<CopyFolder>& copies = copyFolders[Absolute(folder).string()];
    if (!copies)
        copies = std::make_unique<CopyFolder>();
    const std::string hashed = HashedName(wanted, file.hash);
    std::vector<std::pair<File*, std::string>>& given = copies->given[hashed];
    for (const auto& [other, name] : given) {
        if (other == &file)
            return name;
        // Two files with one hash: the same bytes share the copy; only a collision needs another name.
        std::string ignored;
        if (other->size == file.size) {
            const SharedBytes mine = Bytes(file, ignored), theirs = Bytes(*other, ignored);
            if (mine && theirs && *mine == *theirs)
                return name;
        }
    }
    const fs::path path(hashed);
    given.emplace_back(&file, copies->names.Make(path.stem().string(), path.extension().string()));
    return given.back().second;
}
