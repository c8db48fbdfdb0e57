// libFuzzer target over a whole conversion as brennic-import runs it: the import through the
// plug-in, the scene collected, its textures decoded and both writers (glTF and OBJ). Each input
// holds a model file and a .dds (FuzzConvert.h), written into a private content folder; the
// outputs go to a private folder and are read back. A broken invariant traps so libFuzzer
// keeps the input.

#include "FuzzConvert.h"
#include "CollectScene.h"
#include "FuzzMeshes.h"
#include "Listing.h"
#include "LoadReport.h"
#include "ModelWriter.h"
#include "PluginDriver.h"
#include "Printable.h"
#include "StandInHost.h"
#include "Writers.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>

using namespace modelwriter;

using modelwriter::ReadText;

namespace {

struct Content {
    std::string folder;   // made by mkdtemp, removed at exit
    std::string model;    // where each input's model goes
    std::string texture;  // and its .dds, which every helper mesh's texture name finds too
    std::string output;   // the outputs' folder
    PluginDriver* driver; // loaded once, as brennic-import does
};

Content* content = nullptr;

void Check(bool holds)
{
    if (!holds)
        __builtin_trap();
}

void Fail(const char* what)
{
    std::perror(what);
    std::abort();
}

void RemoveContent()
{
    std::error_code ignored;
    std::filesystem::remove_all(content->folder, ignored);
}

// Overwrites in place and then sets the length, because O_TRUNC makes ext4 flush on close.
// Links to the file therefore see the new bytes.
void WriteInPlace(const std::string& path, const uint8_t* data, size_t size)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        Fail("fuzz_convert: open");
    for (size_t written = 0; written < size;) {
        const ssize_t n = pwrite(fd, data + written, size - written, static_cast<off_t>(written));
        if (n <= 0)
            Fail("fuzz_convert: write");
        written += static_cast<size_t>(n);
    }
    if (ftruncate(fd, static_cast<off_t>(size)) != 0)
        Fail("fuzz_convert: ftruncate");
    close(fd);
}

Content* WriteContent()
{
    // In memory where there is a tmpfs: every run writes its outputs, and a disk makes that the bulk of the run.
    std::error_code error;
    std::string pattern = (std::filesystem::is_directory("/dev/shm", error) ? "/dev/shm" : "/tmp") +
                          std::string("/brennic-fuzz-convert-XXXXXX");
    if (!mkdtemp(pattern.data()))
        Fail("fuzz_convert: mkdtemp");
    auto* made = new Content;
    made->folder = pattern;
    const ContentFolder folder(made->folder);
    made->model = folder.ModelPath(fuzzconvert::modelName);
    made->texture = folder.TexturePath(fuzzconvert::textureName, "512");
    made->output = made->folder + "/out";
    std::filesystem::create_directories(made->output);
    // Helper meshes a fuzzed reference can name; their textures are the fuzzed one.
    folder.WriteMesh(fuzzmeshes::staticName, MeshListChunk(std::vector<MeshSpec>{fuzzmeshes::StaticTriangle("a")}));
    folder.WriteMesh(fuzzmeshes::skinnedName,
                     MeshListChunk(std::vector<MeshSpec>{fuzzmeshes::SkinnedTriangle("skinned", 2)}));
    WriteFile(made->texture, {});
    for (const char* name : {"a_tex", "skinned_tex"})
        if (link(made->texture.c_str(), folder.TexturePath(name, "512").c_str()) != 0)
            Fail("fuzz_convert: link");
    made->driver = new PluginDriver;
    return made;
}

uint32_t Load32(const std::string& bytes, size_t at)
{
    uint32_t value = 0;
    std::memcpy(&value, bytes.data() + at, 4);
    return value;
}

// The .glb's header and chunk lengths agree with the file, its JSON parses and its buffer
// holds every view.
void CheckGlb(const std::string& path, size_t meshes)
{
    const std::string bytes = ReadText(path);
    Check(bytes.size() >= 20 && bytes.compare(0, 4, "glTF") == 0 && Load32(bytes, 4) == 2 &&
          Load32(bytes, 8) == bytes.size());
    const uint32_t jsonLength = Load32(bytes, 12);
    Check(jsonLength % 4 == 0 && jsonLength <= bytes.size() - 20 && Load32(bytes, 16) == 0x4E4F534A);
    const nlohmann::json root = nlohmann::json::parse(bytes.substr(20, jsonLength));
    Check(root.at("nodes").size() == meshes);
    const size_t binAt = 20 + size_t(jsonLength);
    if (!root.contains("buffers")) {
        Check(binAt == bytes.size());
        return;
    }
    Check(binAt + 8 <= bytes.size() && Load32(bytes, binAt + 4) == 0x004E4942);
    const uint64_t binLength = Load32(bytes, binAt);
    const uint64_t byteLength = root.at("buffers").at(0).at("byteLength").get<uint64_t>();
    Check(binAt + 8 + binLength == bytes.size() && byteLength <= binLength && binLength - byteLength < 4);
    for (const nlohmann::json& view : root.at("bufferViews"))
        Check(view.at("byteOffset").get<uint64_t>() + view.at("byteLength").get<uint64_t>() <= byteLength);
}

// Every line of the OBJ and the MTL is one statement, and faces name vertices written before.
void CheckObj(const std::string& objPath, const std::string& mtlPath)
{
    for (const std::string& text : {ReadText(objPath), ReadText(mtlPath)})
        for (const unsigned char c : text)
            Check(c >= ' ' || c == '\n');
    std::istringstream lines(ReadText(objPath));
    uint64_t vertices = 0;
    for (std::string line; std::getline(lines, line);) {
        vertices += line.compare(0, 2, "v ") == 0;
        if (line.compare(0, 2, "f ") == 0)
            for (size_t at = 2; at < line.size(); at = line.find(' ', at) + 1) {
                const uint64_t index = std::strtoull(line.c_str() + at, nullptr, 10);
                Check(index >= 1 && index <= vertices);
                if (line.find(' ', at) == std::string::npos)
                    break;
            }
    }
}

// Warnings as the command collects them: the load's problems and what lies outside the content.
void ObserveLoad(const CBrennicModel& model, const std::string&, void* context)
{
    auto& warnings = *static_cast<std::vector<std::string>*>(context);
    for (std::string& problem : LoadProblems(model))
        warnings.push_back(std::move(problem));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    content = WriteContent();
    std::atexit(RemoveContent);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const fuzzconvert::Parts parts = fuzzconvert::Split(data, size);
    WriteInPlace(content->model, parts.model, parts.modelSize);
    WriteInPlace(content->texture, parts.dds, parts.ddsSize);

    std::vector<std::string> warnings;
    const std::string hostPath = ToHostPath(content->model);
    const bool binary = !(parts.flags & fuzzconvert::separateGltf);
    const bool streamed = parts.flags & fuzzconvert::streamed;
    const std::string stem = content->output + "/out";
    WriteOptions options;
    options.keepDds = parts.flags & fuzzconvert::keepDds;
    options.copyTextures = parts.flags & fuzzconvert::copyTextures;
    options.outputPath = stem + (binary ? ".glb" : ".gltf");
    options.streamGlb = streamed;
    OutputFiles files;
    const std::unique_ptr<SceneWriter> gltf = OpenGltf(options, binary, files);
    if (streamed)
        gltf->Expect(1, 0); // the least room, so that a larger JSON has the file written again
    ExportScene exported;
    {
        standin::Scene scene;
        SceneCollector collector(nullptr, true, streamed ? gltf.get() : nullptr);
        scene.SetNodeObserver([&collector](standin::Node& node) { collector.Add(node); });
        CBrennicModel::SetLoadObserver(&ObserveLoad, &warnings);
        const ImportOutcome outcome = content->driver->Import(hostPath, parts.flags & fuzzconvert::includeLods, scene);
        CBrennicModel::SetLoadObserver(nullptr, nullptr);
        if (outcome.result != 1)
            return 0;
        exported = collector.Finish();
    }
    for (const ExportTexture& texture : exported.textures)
        if (OutsideContentFolder(texture.path, ContentRootOf(hostPath)))
            warnings.push_back("texture " + NormalPath(texture.path) + " is outside the content folder");

    if (streamed)
        gltf->Finish(exported, warnings); // its meshes went to it as they were collected
    else
        WriteScene(*gltf, exported, warnings);
    options.outputPath = stem + ".obj";
    WriteScene(*OpenObj(options, files), exported, warnings);
    files.Commit();
    if (binary)
        CheckGlb(stem + ".glb", exported.meshes.size());
    else
        Check(nlohmann::json::accept(ReadText(stem + ".gltf")));
    CheckObj(stem + ".obj", stem + ".mtl");
    for (const std::string& warning : warnings)
        Check(!warning.empty());

    std::error_code ignored; // the next input starts from an empty folder
    std::filesystem::remove_all(content->output, ignored);
    std::filesystem::create_directories(content->output, ignored);
    return 0;
}
