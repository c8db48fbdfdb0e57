#include "Convert.h"

#include "HeapPrefault.h"
#include "Import.h"
#include "OutputFiles.h"
#include "Printable.h"

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <sys/stat.h>

namespace {

// From this input size on, a .glb's buffer is written as its meshes come (its JSON chunk padded
// to the room left for it); a smaller one is written whole at the end, exactly sized.
constexpr uint64_t streamedGlbBytes = 8 << 20;

} // namespace

Converted Convert(PluginDriver& driver, const Job& job, const ConvertOptions& options, TextureCache& textures,
                  std::vector<std::string>& warnings)
{
    // No output may replace a file that the conversion reads: the input, its .mesh files or its textures.
    OutputFiles files(job.output);
    // A file that cannot be stat'ed cannot be read either, and the import will say why.
    struct stat input {};
    const bool found = stat(job.input.c_str(), &input) == 0;
    if (found)
        files.ProtectFile(input.st_dev, input.st_ino, job.input);
    files.CheckOutput(job.output);

    const uint64_t inputBytes = found && S_ISREG(input.st_mode) ? uint64_t(input.st_size) : 0;
    const HeapPrefault prefault(inputBytes);
    // The writer takes each mesh as it is collected, and writes its bytes while the plug-in builds the next.
    WriteOptions writeOptions;
    writeOptions.outputPath = job.output;
    writeOptions.copyTextures = options.copyTextures;
    writeOptions.keepDds = options.keepDds;
    writeOptions.textures = &textures;
    writeOptions.streamGlb = inputBytes >= streamedGlbBytes;
    const std::unique_ptr<SceneWriter> writer = job.format->open(writeOptions, files);
    ImportOptions importOptions;
    importOptions.includeLods = options.includeLods;
    importOptions.gameNormals = options.gameNormals;
    importOptions.stream = writer.get();
    const Imported imported = Import(driver, job.input, importOptions, warnings);
    for (const FileRead& file : imported.filesRead)
        files.ProtectFile(file.device, file.inode, file.path);
    if (options.verbosity >= 2 && !imported.summary.empty()) {
        // Print the summary box's lines one by one, with control bytes cleaned out.
        const std::string& summary = imported.summary;
        size_t start = 0;
        for (size_t end; (end = summary.find('\n', start)) != std::string::npos; start = end + 1)
            std::fprintf(stderr, "%s\n", Printable(summary.substr(start, end - start)).c_str());
        std::fprintf(stderr, "%s\n", Printable(summary.substr(start)).c_str());
    }

    Converted counts;
    for (const ExportMesh& mesh : imported.scene.meshes) {
        ++counts.nodes;
        counts.vertices += mesh.vertices.size();
        counts.triangles += mesh.indices.size() / 3;
        counts.details.push_back(mesh.name + ": " + std::to_string(mesh.vertices.size()) + " vertices, " +
                                 std::to_string(mesh.indices.size() / 3) + " triangles");
    }
    if (counts.triangles == 0)
        throw std::runtime_error("the import made no triangles to write");

    writer->Finish(imported.scene, warnings);
    if (options.strict && !warnings.empty())
        throw std::runtime_error(std::to_string(warnings.size()) + (warnings.size() == 1 ? " warning" : " warnings") +
                                 " with --strict: nothing written");
    files.Commit();
    return counts;
}
