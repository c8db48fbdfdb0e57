// brennic-import: converts Brennic models to glTF 2.0 or OBJ by driving the 3ds Max plug-in's
// import as the host application would, or lists what a model holds.
#include "BrennicModel.h"
#include "Listing.h"
#include "PluginDriver.h"
#include "Workers.h"
#include "Writers.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <malloc.h>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char usage[] =
    "usage: brennic-import [options] INPUT...\n"
    "\n"
    "Converts Brennic models (.model and .mesh files) to glTF 2.0 or OBJ. Each model is read\n"
    "by the same import the 3ds Max plug-in runs: the .mesh files it refers to are loaded,\n"
    "vertices are welded, and every mesh gets its material with its .dds texture.\n"
    "\n"
    "INPUT is a model file or a folder, searched for .model files.\n"
    "\n"
    "  -o, --output PATH     where to write: a file for one input, a folder for several\n"
    "                        (default: beside each input, named after it)\n"
    "  --format FORMAT       glb, gltf or obj (default: from the output's extension, else glb)\n"
    "  --include-lods        also import the LOD meshes the model refers to\n"
    "  --copy-textures       copy the textures beside the output (default: refer to them\n"
    "                        where they lie)\n"
    "  --list                list each model's meshes and the files it reads; write nothing\n"
    "  -j, --jobs N          convert N models at a time, in as many processes (default: one\n"
    "                        per processor)\n"
    "  -q, --quiet           report errors only\n"
    "  -v, --verbose         also report the import's summary and each mesh written\n"
    "  -h, --help            show this help\n"
    "\n"
    "Models keep the game's folder layout: references and textures are found under the\n"
    "folder named 'content' in the model's path (content/meshes/..., content/textures/...).\n"
    "glTF files refer to the .dds textures and carry a PNG copy of each, which every viewer\n"
    "can show. The exit status is 0 only when every input was converted.\n"
    "\n"
    "examples:\n"
    "  brennic-import content/meshes/props/storage.model          writes storage.glb beside it\n"
    "  brennic-import -o out --format obj content/meshes          every .model under it, as OBJ\n";

struct Options {
    std::vector<std::string> inputs;
    std::string output;
    std::string format; // empty: from the output's extension
    bool includeLods = false;
    bool copyTextures = false;
    bool list = false;
    int verbosity = 1; // 0 quiet, 1 normal, 2 verbose
    unsigned jobs = ProcessorCount();
};

struct Job {
    std::string input;
    std::string output;
    OutputFormat format;
};

[[noreturn]] void UsageError(const std::string& message)
{
    std::fprintf(stderr, "brennic-import: %s\n(brennic-import --help shows how to use it)\n", message.c_str());
    std::exit(2);
}

Options ParseArguments(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                UsageError(arg + " needs a value");
            return argv[++i];
        };
        if (arg == "-h" || arg == "--help") {
            std::fputs(usage, stdout);
            std::exit(0);
        } else if (arg == "-o" || arg == "--output")
            options.output = value();
        else if (arg == "--format") {
            options.format = value();
            if (options.format != "glb" && options.format != "gltf" && options.format != "obj")
                UsageError("unknown format '" + options.format + "': glb, gltf or obj");
        } else if (arg == "--include-lods")
            options.includeLods = true;
        else if (arg == "--copy-textures")
            options.copyTextures = true;
        else if (arg == "--list")
            options.list = true;
        else if (arg == "-j" || arg == "--jobs") {
            const std::string count = value();
            const bool number = !count.empty() && count.size() <= 3 && count.find_first_not_of("0123456789") == std::string::npos;
            options.jobs = number ? static_cast<unsigned>(std::stoul(count)) : 0;
            if (options.jobs == 0)
                UsageError(arg + " needs a number of processes from 1 to 999");
        } else if (arg == "-q" || arg == "--quiet")
            options.verbosity = 0;
        else if (arg == "-v" || arg == "--verbose")
            options.verbosity = 2;
        else if (arg.size() > 1 && arg[0] == '-')
            UsageError("unknown option " + arg);
        else
            options.inputs.push_back(arg);
    }
    if (options.inputs.empty())
        UsageError("no input given");
    return options;
}

OutputFormat FormatNamed(const std::string& name)
{
    return name == "obj" ? OutputFormat::Obj : name == "gltf" ? OutputFormat::Gltf : OutputFormat::Glb;
}

const char* Extension(OutputFormat format)
{
    return format == OutputFormat::Obj ? ".obj" : format == OutputFormat::Gltf ? ".gltf" : ".glb";
}

bool IsModelFile(const fs::path& path)
{
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return extension == ".model";
}

// Inputs become jobs: a folder its .model files, each output named after its input.
std::vector<Job> PlanJobs(const Options& options, std::vector<std::string>& problems)
{
    struct Source {
        fs::path file;
        fs::path relative; // below the output folder
    };
    std::vector<Source> sources;
    for (const std::string& input : options.inputs) {
        std::error_code error;
        if (fs::is_directory(input, error)) {
            std::vector<fs::path> found;
            for (auto entry = fs::recursive_directory_iterator(input, fs::directory_options::skip_permission_denied, error);
                 !error && entry != fs::recursive_directory_iterator(); entry.increment(error))
                if (entry->is_regular_file(error) && IsModelFile(entry->path()))
                    found.push_back(entry->path());
            std::sort(found.begin(), found.end());
            if (found.empty())
                problems.push_back(input + ": no .model files in this folder");
            for (const fs::path& file : found)
                sources.push_back({file, fs::relative(file, input)});
        } else {
            sources.push_back({input, fs::path(input).filename()});
        }
    }

    const bool oneFile = sources.size() == 1 && !fs::is_directory(options.inputs[0]);
    const bool outputIsFile = oneFile && !options.output.empty() && !fs::is_directory(options.output) &&
                              !fs::path(options.output).extension().empty();
    std::string formatName = options.format;
    if (formatName.empty() && outputIsFile) {
        const std::string extension = fs::path(options.output).extension().string();
        formatName = extension == ".obj" ? "obj" : extension == ".gltf" ? "gltf" : extension == ".glb" ? "glb" : "";
        if (formatName.empty())
            UsageError("cannot tell the format from '" + options.output + "': give --format glb, gltf or obj");
    }
    const OutputFormat format = FormatNamed(formatName);

    std::vector<Job> jobs;
    std::set<std::string> outputs;
    for (const Source& source : sources) {
        fs::path output;
        if (outputIsFile)
            output = options.output;
        else if (!options.output.empty())
            output = fs::path(options.output) / source.relative;
        else
            output = source.file;
        if (!outputIsFile)
            output.replace_extension(Extension(format));
        const std::string key = fs::absolute(output).lexically_normal().string();
        if (!outputs.insert(key).second) {
            problems.push_back(source.file.string() + ": its output " + output.string() + " is another input's too; skipped");
            continue;
        }
        jobs.push_back({source.file.string(), output.string(), format});
    }
    return jobs;
}

// Why a file the plug-in could not import failed, in the user's words.
std::string Diagnose(const std::string& input, const std::string& hostPath, bool includeLods)
{
    std::error_code error;
    if (!fs::exists(input, error))
        return "no such file";
    if (!fs::is_regular_file(input, error))
        return "not a file";
    if (fs::file_size(input, error) == 0)
        return "the file is empty";
    CBrennicModel model;
    if (!model.Load(hostPath, includeLods) && model.KnownChunkCount() == 0)
        return "not a Brennic model file (no mesh, reference or substitution chunk in it)";
    size_t missing = 0;
    for (const ReferenceNote& note : model.References())
        missing += note.outcome == ReferenceNote::Outcome::Missing;
    std::string reason = "holds no mesh with both vertices and triangles";
    if (missing)
        reason += " (" + std::to_string(missing) + " referenced .mesh file" + (missing == 1 ? " is" : "s are") + " missing)";
    return reason;
}

struct Converted {
    size_t nodes = 0, vertices = 0, triangles = 0;
    std::vector<std::string> details; // per mesh, for --verbose
};

// One input: import through the plug-in, collect, write. Throws with the reason on failure.
Converted Convert(PluginDriver& driver, const Job& job, const Options& options, std::vector<std::string>& warnings)
{
    const std::string hostPath = ToHostPath(job.input);
    ExportScene exported;
    {
        standin::Scene scene; // gone before the files are written, as is its memory
        const ImportOutcome outcome = driver.Import(hostPath, options.includeLods, scene);
        if (outcome.result != 1)
            throw std::runtime_error(Diagnose(job.input, hostPath, options.includeLods));
        if (options.verbosity >= 2 && !outcome.summary.empty())
            std::fprintf(stderr, "%s\n", outcome.summary.c_str());
        exported = CollectScene(scene);
    }
    Converted counts;
    for (const ExportMesh& mesh : exported.meshes) {
        ++counts.nodes;
        counts.vertices += mesh.vertices.size();
        counts.triangles += mesh.indices.size() / 3;
        counts.details.push_back(mesh.name + ": " + std::to_string(mesh.vertices.size()) + " vertices, " +
                                 std::to_string(mesh.indices.size() / 3) + " triangles");
    }
    if (counts.triangles == 0)
        throw std::runtime_error("the import made no triangles to write");

    OutputFiles files;
    const WriteOptions writeOptions{job.output, options.copyTextures};
    if (job.format == OutputFormat::Obj)
        WriteObj(exported, writeOptions, files, warnings);
    else
        WriteGltf(exported, writeOptions, job.format == OutputFormat::Glb, files, warnings);
    files.Commit();
    return counts;
}

int ConvertAll(const Options& options)
{
    std::vector<std::string> problems;
    const std::vector<Job> jobs = PlanJobs(options, problems);
    for (const std::string& problem : problems)
        std::fprintf(stderr, "brennic-import: %s\n", problem.c_str());

    PluginDriver driver; // no import yet: each worker process starts from the same clean state
    const auto progressOf = [&](size_t i) {
        return jobs.size() > 1 ? "[" + std::to_string(i + 1) + "/" + std::to_string(jobs.size()) + "] " : std::string();
    };
    const auto convertOne = [&](size_t i) {
        const Job& job = jobs[i];
        const std::string progress = progressOf(i);
        std::vector<std::string> warnings;
        bool converted = false;
        try {
            const Converted counts = Convert(driver, job, options, warnings);
            converted = true;
            if (options.verbosity >= 1)
                std::fprintf(stderr, "%s%s -> %s: %zu mesh%s, %zu vertices, %zu triangles\n", progress.c_str(), job.input.c_str(),
                             job.output.c_str(), counts.nodes, counts.nodes == 1 ? "" : "es", counts.vertices, counts.triangles);
            if (options.verbosity >= 2)
                for (const std::string& detail : counts.details)
                    std::fprintf(stderr, "  %s\n", detail.c_str());
        } catch (const std::bad_alloc&) {
            std::fprintf(stderr, "%sbrennic-import: %s: not enough memory to convert it\n", progress.c_str(), job.input.c_str());
        } catch (const std::exception& error) {
            std::fprintf(stderr, "%sbrennic-import: %s: %s\n", progress.c_str(), job.input.c_str(), error.what());
        }
        if (options.verbosity >= 1)
            for (const std::string& warning : warnings)
                std::fprintf(stderr, "  warning: %s\n", warning.c_str());
        return converted;
    };
    const auto lost = [&](size_t i, const std::string& why) {
        std::fprintf(stderr, "%sbrennic-import: %s: %s\n", progressOf(i).c_str(), jobs[i].input.c_str(), why.c_str());
    };
    const size_t converted = RunJobs(jobs.size(), options.jobs, convertOne, lost);
    const size_t attempted = jobs.size() + problems.size();
    if (attempted > 1 && options.verbosity >= 1)
        std::fprintf(stderr, "converted %zu of %zu\n", converted, attempted);
    return converted == attempted && attempted > 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    // A conversion allocates and frees arrays of tens of megabytes one after another: keep
    // freed memory for the next instead of handing it back and faulting it in again.
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    mallopt(M_TRIM_THRESHOLD, -1);
    mallopt(M_TOP_PAD, 64 << 20);

    const Options options = ParseArguments(argc, argv);
    try {
        if (options.list) {
            int status = 0;
            for (const std::string& input : options.inputs)
                status |= ListModel(input, options.includeLods);
            return status;
        }
        return ConvertAll(options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "brennic-import: %s\n", error.what());
        return 1;
    }
}
