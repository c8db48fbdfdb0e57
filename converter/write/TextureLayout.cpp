#include "TextureLayout.h"

#include "UniqueNames.h"

#include <cstring>
#include <filesystem>
#include <iterator>
#include <map>

namespace fs = std::filesystem;

namespace {

fs::path Absolute(const std::string& path)
{
    return fs::absolute(fs::path(path)).lexically_normal();
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

std::string RelativePath(const std::string& path, const std::string& folder)
{
    const fs::path relative = Absolute(path).lexically_relative(Absolute(folder));
    return (relative.empty() ? Absolute(path) : relative).generic_string();
}

std::vector<TextureReference> PrepareTextures(const ExportScene& scene, const WriteOptions& options, SpillFile* embed,
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
        // Where the import found it, whatever the case of its name.
        const fs::path source = Absolute(texture.file);
        if (!texture.spelling.empty())
            warnings.push_back("texture " + texture.path + " found ignoring case: " + texture.spelling);
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
            if (absent && texture.backslashInName)
                problem +=
                    ": its name holds a '\\', which a texture name cannot carry (every '\\' is a folder separator)";
            made.problem = problem;
            // Every size the plug-in looked for is missing, not just the one it settled on.
            const std::string tried = NamesTried(texture.path);
            if (absent && tried != texture.path)
                warnings.push_back("texture " + tried + ": none of them exists" +
                                   problem.substr(std::strlen(TextureCache::absentProblem)) +
                                   "; its material has no texture");
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
            // The bytes are released before the decode, so the whole file and the pixels are never
            // held together.
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
                made.ddsSpan = embed->Append(bytes->data(), bytes->size());
        }
        std::vector<std::string> notes;
        const SharedBytes png = cache.Png(*file, made.alpha, problem, notes);
        for (const std::string& note : notes)
            warnings.push_back("texture " + texture.path + ": " + note);
        if (!png) {
            warn(problem);
            continue;
        }
        made.hasPng = true;
        if (embed) {
            made.pngSpan = embed->Append(png->data(), png->size());
        } else {
            made.png = pngFolder + "/" + pngNames.Make(SafeName(source.stem().string(), "texture"), ".png");
            files.Write((folder / made.png).string(), png->data(), png->size());
        }
    }
    return references;
}
