#include "Textures.h"

#include "UniqueNames.h"

#include "Dds.h"
#include "PathLookup.h"

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
    bool decoded = false; // tried
    SharedBytes png;
    TextureAlpha alpha = TextureAlpha::Opaque;
    std::string decodeProblem;
    std::vector<std::string> notes;
    bool isKept = false;
    uint64_t counted = 0; // of keptBytes
};

// Per output folder: the copies' names, and which file took each first.
struct TextureCache::CopyFolder {
    UniqueNames names;
    std::map<std::string, std::vector<std::pair<File*, std::string>>> given; // name from the hash: (file, name given)
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

constexpr char absentWords[] = "does not exist";

// Why a path cannot be stat'ed, in words: `absentWords` first when nothing is there.
std::string StatProblem(const std::string& path, int error)
{
    if ((error == ENOENT || error == ENOTDIR) && PathNeedsBackslashInName(path))
        return std::string(absentWords) +
               ": its name holds a '\\', which a texture name cannot carry (every '\\' is a folder separator)";
    switch (error) {
    case ENOENT:
    case ENOTDIR: return absentWords;
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

    // Open, and still the regular file of the size stat'ed.
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

// The top level as PNG: RGB when every pixel is opaque, else RGBA. Null with `problem` in our
// words when the bytes are no DDS texture we can read.
// `fileSize` is the whole file's: the bytes may hold only its top level.
SharedBytes DecodeToPng(const std::vector<uint8_t>& bytes, uint64_t fileSize, TextureAlpha& alpha, std::string& problem,
                        std::vector<std::string>& notes)
{
    dds::Image image;
    if (!dds::Decode(bytes.data(), bytes.size(), image, problem, notes, TextureCache::maxPixels, fileSize))
        return nullptr;
    switch (dds::ClassifyAlpha(image)) {
    case dds::Alpha::Opaque: alpha = TextureAlpha::Opaque; break;
    case dds::Alpha::Cutout: alpha = TextureAlpha::Cutout; break;
    case dds::Alpha::Blended: alpha = TextureAlpha::Blended; break;
    }
    try {
        return std::make_shared<const std::vector<uint8_t>>(dds::EncodePng(image, alpha != TextureAlpha::Opaque));
    } catch (const std::runtime_error&) {
        problem = "its pixels could not be made a PNG";
        return nullptr;
    }
}

// A 64-bit hash of the bytes, the same on every machine: each 8-byte little-endian word is
// mixed by multiplies and xor-shifts and folded in, the length last, so that bytes differing
// only by trailing zeros differ. Not proof against bytes made to collide.
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
    // Room for UniqueNames' "_N" too, should two hashes ever meet.
    const size_t room = nameMax - std::strlen(suffix) - extension.size() - 8;
    if (stem.size() > room)
        stem.resize(room);
    return stem + suffix + extension;
}

// The plug-in looks for a texture as the content folder's textures/ + name + a size, the
// largest first, and settles on the smallest when none is there.
constexpr char texturesFolder[] = "content/textures/";
constexpr const char* textureSizes[] = {".2048.dds", ".1024.dds", ".512.dds"};

// Where the name starts in a texture's path; npos without a content folder (the path is the name).
size_t NameStart(const std::string& path)
{
    const size_t found = path.rfind(std::string("/") + texturesFolder);
    if (found != std::string::npos)
        return found + 1 + std::strlen(texturesFolder);
    return path.rfind(texturesFolder, 0) == 0 ? std::strlen(texturesFolder) : std::string::npos;
}

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The texture's name as the model gives it.
std::string TextureName(const std::string& path)
{
    const size_t start = NameStart(path);
    if (start == std::string::npos)
        return path;
    for (const char* size : textureSizes)
        if (EndsWith(path, size))
            return path.substr(start, path.size() - start - std::strlen(size));
    return path.substr(start);
}

// The files the plug-in tried before settling on `path`, as "dir/a.2048.dds, a.1024.dds or
// a.512.dds"; `path` alone when it settled on nothing else.
std::string NamesTried(const std::string& path)
{
    const std::string smallest = textureSizes[std::size(textureSizes) - 1];
    if (NameStart(path) == std::string::npos || !EndsWith(path, smallest))
        return path;
    const size_t slash = path.rfind('/');
    const std::string stem = path.substr(slash + 1, path.size() - slash - 1 - smallest.size());
    std::string names = path.substr(0, slash + 1);
    for (size_t i = 0; i < std::size(textureSizes); ++i)
        names += (i == 0 ? "" : i + 1 < std::size(textureSizes) ? ", " : " or ") + stem + textureSizes[i];
    return names;
}

} // namespace

TextureCache::TextureCache(uint64_t limit) : keptLimit(limit) {}
TextureCache::~TextureCache() = default;

TextureCache::File* TextureCache::Find(const std::string& path, std::string& problem, bool* absent)
{
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        const int error = errno;
        problem = StatProblem(path, error);
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
        // Rewritten since it was read: its bytes and PNG go, its copies keep their names.
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
    if (!file.bytes && file.readProblem.empty()) {
        auto bytes = std::make_shared<std::vector<uint8_t>>();
        ++reads;
        const OpenFile opened(file.path);
        bytesRead += file.size;
        if (opened.Check(file.size, file.readProblem) && opened.Read(0, size_t(file.size), *bytes, file.readProblem)) {
            if (!file.hashed) {
                file.hash = ContentHash(bytes->data(), bytes->size());
                file.hashed = true;
            }
            file.bytes = std::move(bytes);
            Keep(file);
        }
    }
    problem = file.readProblem;
    return file.bytes;
}

SharedBytes TextureCache::Png(File& file, TextureAlpha& alpha, std::string& problem, std::vector<std::string>& notes)
{
    if (!file.decoded) {
        file.decoded = true;
        ++decodes;
        // The whole file when it is at hand already, else only what the decode reads.
        SharedBytes bytes = file.bytes;
        std::string why;
        bool readFailed = false;
        if (!bytes)
            bytes = ReadTopLevel(file, why, readFailed);
        if (bytes)
            file.png = DecodeToPng(*bytes, file.size, file.alpha, why, file.notes);
        if (file.png)
            Keep(file);
        else
            file.decodeProblem = readFailed ? why : "cannot be decoded as DDS (" + why + ")";
    }
    alpha = file.alpha;
    problem = file.decodeProblem;
    notes.insert(notes.end(), file.notes.begin(), file.notes.end());
    return file.png;
}

// The header first: a texture that claims more pixels than we decode, or more bytes than the
// file holds, costs no more than its header. Then the bytes up to the top level's end.
SharedBytes TextureCache::ReadTopLevel(const File& file, std::string& problem, bool& readFailed)
{
    ++reads;
    const OpenFile opened(file.path);
    auto bytes = std::make_shared<std::vector<uint8_t>>();
    const size_t headerBytes = size_t(std::min<uint64_t>(file.size, ddsHeaderBytes));
    bytesRead += headerBytes;
    readFailed = !opened.Check(file.size, problem) || !opened.Read(0, headerBytes, *bytes, problem);
    if (readFailed)
        return nullptr;
    dds::Header header;
    if (!dds::ReadHeader(bytes->data(), bytes->size(), header, problem, file.size))
        return nullptr;
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
    const size_t rest = size_t(header.topLevelEnd) - std::min(bytes->size(), size_t(header.topLevelEnd));
    bytesRead += rest;
    readFailed = !opened.Read(bytes->size(), rest, *bytes, problem);
    return readFailed ? nullptr : bytes;
}

void TextureCache::Keep(File& file)
{
    keptBytes -= file.counted;
    file.counted = (file.bytes ? file.bytes->size() : 0) + (file.png ? file.png->size() : 0);
    keptBytes += file.counted;
    if (!file.isKept) {
        kept.push_back(&file);
        file.isKept = true;
    }
    // The oldest go first, never the file in hand; whoever holds their bytes keeps them till done.
    while (keptBytes > keptLimit && kept.size() > 1) {
        File& old = *kept.front();
        kept.pop_front();
        if (&old == &file) {
            kept.push_back(&file);
            continue;
        }
        keptBytes -= old.counted;
        old.counted = 0;
        old.bytes.reset();
        old.png.reset();
        old.decoded = false;
        old.notes.clear();
        old.isKept = false;
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

std::string RelativePath(const std::string& path, const std::string& folder)
{
    const fs::path relative = Absolute(path).lexically_relative(Absolute(folder));
    return (relative.empty() ? Absolute(path) : relative).generic_string();
}

std::string SafeName(const std::string& name, const char* fallback)
{
    std::string safe = name.empty() ? fallback : name;
    for (char& c : safe)
        if (static_cast<unsigned char>(c) <= ' ' || c == '\x7F' || c == '#' || c == '\\')
            c = '_';
    return safe;
}

std::vector<TextureReference> PrepareTextures(const ExportScene& scene, const WriteOptions& options, bool embed,
                                              OutputFiles& files, std::vector<std::string>& warnings)
{
    TextureCache ownCache;
    TextureCache& cache = options.textures ? *options.textures : ownCache;
    const fs::path output = Absolute(options.outputPath);
    const fs::path folder = output.parent_path();
    // PNGs go into a folder named after the output, so outputs sharing a folder keep theirs apart.
    const std::string pngFolder = SafeName(output.stem().string(), "output") + "_textures";
    UniqueNames pngNames;

    std::vector<TextureReference> references;
    std::map<const TextureCache::File*, size_t> firstReference;
    for (const ExportTexture& texture : scene.textures) {
        // Found whatever the case of its name, as the game's platform finds it.
        std::string ambiguity;
        const fs::path source = Absolute(ResolvePathIgnoringCase(Absolute(texture.path).string(), &ambiguity));
        if (!ambiguity.empty())
            warnings.push_back("texture " + texture.path + " found ignoring case: " + ambiguity);
        TextureReference reference;
        reference.name = TextureName(texture.path);
        reference.dds = RelativePath(source.string(), folder.string());
        references.push_back(reference);
        TextureReference& made = references.back();
        const auto warn = [&](const std::string& problem) {
            made.problem = problem;
            warnings.push_back("texture " + texture.path + " " + problem + "; its material has no texture");
        };

        std::string problem;
        bool absent = false;
        TextureCache::File* file = cache.Find(source.string(), problem, &absent);
        if (!file) {
            made.problem = problem;
            // Every size the plug-in looked for is missing, not just the one it settled on.
            const std::string tried = NamesTried(texture.path);
            if (absent && tried != texture.path)
                warnings.push_back("texture " + tried + ": none of them exists" +
                                   problem.substr(std::strlen(absentWords)) + "; its material has no texture");
            else
                warn(problem);
            continue;
        }
        // The same file under another spelling is the same image, written once.
        const auto [first, isNew] = firstReference.try_emplace(file, references.size() - 1);
        if (!isNew) {
            made = references[first->second];
            made.name = reference.name;
            continue;
        }
        if (options.copyTextures || (embed && options.keepDds)) {
            const SharedBytes bytes = cache.Bytes(*file, problem);
            if (!bytes) {
                warn(problem);
                continue;
            }
            if (options.copyTextures) {
                const std::string name = cache.CopyName(folder.string(), *file,
                                                        SafeName(source.filename().string(), "texture.dds"), problem);
                if (name.empty()) {
                    warn(problem);
                    continue;
                }
                files.Write((folder / name).string(), bytes->data(), bytes->size());
                made.dds = name;
            }
            if (embed && options.keepDds)
                made.ddsBytes = bytes;
        }
        std::vector<std::string> notes;
        made.pngBytes = cache.Png(*file, made.alpha, problem, notes);
        for (const std::string& note : notes)
            warnings.push_back("texture " + texture.path + ": " + note);
        if (!made.pngBytes) {
            warn(problem);
            continue;
        }
        if (!embed) {
            made.png = pngFolder + "/" + pngNames.Make(SafeName(source.stem().string(), "texture"), ".png");
            files.Write((folder / made.png).string(), made.pngBytes->data(), made.pngBytes->size());
        }
    }
    return references;
}
