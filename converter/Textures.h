#pragma once

// Textures as the outputs use them. Every .dds file is read, decoded and made a PNG at most
// once for the whole process (a batch), whichever models name it and however they spell its
// path: files are told apart by device and inode.

#include "Writers.h"

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
    // A .dds larger than this is refused before it is read: no texture we decode comes close.
    static constexpr uint64_t maxFileSize = uint64_t{2} << 30;
    // A texture of more pixels is refused after its header is read (16384 x 16384 is decoded).
    static constexpr uint64_t maxPixels = uint64_t{1} << 28;

    struct File;

    // `keptBytes` bounds what stays in memory between outputs; beyond it the oldest files'
    // bytes are dropped, and read again should another output need them.
    explicit TextureCache(uint64_t keptBytes = uint64_t{1} << 30);
    ~TextureCache();
    TextureCache(const TextureCache&) = delete;
    TextureCache& operator=(const TextureCache&) = delete;

    // The file at `path` (stat'ed, not read); null with `problem` when there is none to use,
    // and `absent` set when nothing is there at all.
    File* Find(const std::string& path, std::string& problem, bool* absent = nullptr);
    // The file's bytes; null with `problem` when they cannot be read.
    SharedBytes Bytes(File& file, std::string& problem);
    // The file decoded as DDS and encoded as PNG; null with `problem` when it cannot be.
    // `notes` gets what the user should know of a decode that worked (a cube map, say).
    SharedBytes Png(File& file, TextureAlpha& alpha, std::string& problem, std::vector<std::string>& notes);
    // The name `file`'s copy takes in `folder`: `wanted` with a hash of the file's bytes added
    // to its stem ("crate.512-0123456789abcdef.dds"), so that every process names the same
    // bytes alike and different bytes apart. Empty with `problem` when the bytes cannot be read.
    std::string CopyName(const std::string& folder, File& file, const std::string& wanted, std::string& problem);

    // For tests: files read and decoded so far.
    size_t Reads() const { return reads; }
    size_t Decodes() const { return decodes; }
    uint64_t BytesRead() const { return bytesRead; }

private:
    SharedBytes ReadTopLevel(const File& file, std::string& problem, bool& readFailed);
    void Keep(File& file);

    std::map<std::pair<uint64_t, uint64_t>, std::unique_ptr<File>> files; // by device and inode
    struct CopyFolder;
    std::map<std::string, std::unique_ptr<CopyFolder>> copyFolders;
    std::deque<File*> kept; // holding bytes or a PNG, oldest first
    uint64_t keptBytes = 0, keptLimit;
    size_t reads = 0, decodes = 0;
    uint64_t bytesRead = 0;
};

struct TextureReference {
    std::string name;     // as the model names it, '/' between folders (without the size the plug-in added)
    std::string dds;      // where the .dds lies (or its copy), relative to the output's folder, '/'
    std::string png;      // the PNG written beside the output, likewise; empty when embedded or none
    SharedBytes pngBytes; // null when no PNG could be made
    SharedBytes ddsBytes; // only when the output embeds the .dds itself
    TextureAlpha alpha = TextureAlpha::Opaque;
    std::string problem; // why there is no PNG, in words
};

// One reference per scene texture, in order. With `embed` the PNG (and with keepDds the .dds)
// is handed over as bytes; else PNGs are written in `<stem>_textures/` beside the output.
// Copies and PNGs are added to `files`. A texture that is missing or cannot be decoded has no
// PNG and a warning: the writers leave its materials untextured, since a reference to a file a
// reader cannot show makes strict readers refuse the whole output.
std::vector<TextureReference> PrepareTextures(const ExportScene& scene, const WriteOptions& options, bool embed,
                                              OutputFiles& files, std::vector<std::string>& warnings);

// `path` relative to `folder`, with forward slashes; both made absolute first.
std::string RelativePath(const std::string& path, const std::string& folder);

// A name any OBJ or MTL reader takes as one word: white space, control bytes, '#' and '\'
// (some readers join a line ending in it to the next) become '_'.
std::string SafeName(const std::string& name, const char* fallback);
