#pragma once

// The .dds files of a run, read and decoded for its outputs. Each file (told apart by device
// and inode, however its path is spelt) is read, decoded and made into a PNG once for the whole
// process, as long as its PNG fits the cache's bound.

// Beyond that bound no pixels are kept, so memory does not grow with a batch or with a model's
// textures. Failures come back as null or empty results with the problem in words; nothing here
// throws.

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// The texture is also the material's opacity map, so its alpha decides how it is blended.
enum class TextureAlpha {
    Opaque,  // every alpha 255, or no PNG was made
    Cutout,  // alpha only 0 and 255 (as DXT1's one-bit alpha): a mask needs no sorting
    Blended, // any alpha in between
};

using SharedBytes = std::shared_ptr<const std::vector<uint8_t>>;

class TextureCache {
public:
    // The problem of a file that is not there at all.
    static constexpr char absentProblem[] = "does not exist";
    // A .dds larger than this is refused before it is read: no texture we decode comes close.
    static constexpr uint64_t maxFileSize = uint64_t{2} << 30;
    // A texture with more pixels is refused once its header is read (16384 x 16384 still decodes).
    static constexpr uint64_t maxPixels = uint64_t{1} << 28;

    struct File;

    // The most bytes of files and PNGs the cache keeps between uses. Beyond it the oldest are
    // dropped, and read and decoded again if another output needs them. A file whose bytes and
    // PNG exceed a quarter of this is never kept.
    static constexpr uint64_t defaultKeptBytes = uint64_t{64} << 20;

    // `threads`: threads each texture is decoded and deflated on; a process of a batch's several
    // gets one.
    explicit TextureCache(uint64_t keptBytes = defaultKeptBytes, unsigned threads = 1);
    ~TextureCache();
    TextureCache(const TextureCache&) = delete;
    TextureCache& operator=(const TextureCache&) = delete;

    // Returns the file at `path` (stat'ed, not read), or null with `problem` when there is none
    // to use, and with `absent` set when nothing is there at all.
    File* Find(const std::string& path, std::string& problem, bool* absent = nullptr);
    // Returns the file's bytes, or null with `problem` when they cannot be read.
    SharedBytes Bytes(File& file, std::string& problem);
    // Returns the file decoded as DDS and encoded as PNG, or null with `problem` when that fails.
    // `notes` gets what the user should know about a decode that worked (a cube map, say).
    SharedBytes Png(File& file, TextureAlpha& alpha, std::string& problem, std::vector<std::string>& notes);
    // The name that `file`'s copy takes in `folder`: `wanted` with a hash of the file's bytes
    // added to its stem ("crate.512-0123456789abcdef.dds"), so every process gives the same bytes
    // the same name and different bytes different names. Empty with `problem` when the bytes
    // cannot be read.
    std::string CopyName(const std::string& folder, File& file, const std::string& wanted, std::string& problem);

    // For tests: files read and decoded so far, and bytes of files and PNGs the cache made that
    // are held (by it or by an output writing them), now and at most.
    size_t Reads() const { return reads; }
    size_t Decodes() const { return decodes; }
    uint64_t BytesRead() const { return bytesRead; }
    uint64_t BytesHeld() const;
    uint64_t PeakBytesHeld() const;
    // For tests: a decode whose largest allocation (the pixels, or the top level's bytes) would
    // exceed this many bytes fails as the allocator would, with std::bad_alloc. 0 means no limit.
    void LimitDecodeAllocationsForTests(uint64_t bytes) { decodeAllocationLimit = bytes; }

private:
    struct Tally;
    SharedBytes Held(std::vector<uint8_t>&& bytes);
    SharedBytes ReadTopLevel(File& file, std::string& problem, bool& readFailed);
    SharedBytes Decode(File& file);
    void Keep(File& file);
    void Drop(File& file);

    std::map<std::pair<uint64_t, uint64_t>, std::unique_ptr<File>> files; // by device and inode
    struct CopyFolder;
    std::map<std::string, std::unique_ptr<CopyFolder>> copyFolders;
    std::deque<File*> kept; // holding bytes or a PNG, oldest first
    uint64_t keptBytes = 0, keptLimit;
    unsigned threads;
    size_t reads = 0, decodes = 0;
    uint64_t bytesRead = 0;
    uint64_t decodeAllocationLimit = 0;
    std::shared_ptr<Tally> tally; // shared with the bytes it counts, which may outlive the cache
};
