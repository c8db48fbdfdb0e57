// brennic-import: converts Brennic models to glTF 2.0 or OBJ by driving the 3ds Max plug-in's
// import as the host application would, or lists what a model holds.
#include "BrennicModel.h"
#include "HeapPrefault.h"
#include "Listing.h"
#include "PluginDriver.h"
#include "SignalCleanup.h"
#include "Textures.h"
#include "Workers.h"
#include "Writers.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <malloc.h>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char usage[] = "usage: brennic-import [options] INPUT...\n"
                     "\n"
                     "Converts Brennic models (.model and .mesh files) to glTF 2.0 or OBJ. Each model is read\n"
                     "by the same import the 3ds Max plug-in runs: the .mesh files it refers to are loaded,\n"
                     "vertices are welded, and every mesh gets its material with its .dds texture.\n"
                     "\n"
                     "INPUT is a model file or a folder, searched for .model files.\n"
                     "\n"
                     "  -o, --output PATH     where to write: for one input file, the file when PATH has an\n"
                     "                        extension (.glb, .gltf, .obj); else the folder that takes\n"
                     "                        each output (default: beside each input, named after it)\n"
                     "  --format FORMAT       glb, gltf or obj (default: from the output's extension, else glb)\n"
                     "  --include-lods        also import the LOD meshes the model refers to\n"
                     "  --normals MODE        host or game (default host). host: the normals the import gives\n"
                     "                        in 3ds Max, rebuilt after the weld and smooth across each mesh:\n"
                     "                        the model as artists see it in the host. game: each vertex's\n"
                     "                        normal as the file packs it, vertices kept apart where the\n"
                     "                        file keeps them, so hard edges stay hard: shading as in the game\n"
                     "  --keep-dds            glTF: also offer each .dds through MSFT_texture_dds (inside a\n"
                     "                        .glb, referred to where it lies from a .gltf)\n"
                     "  --copy-textures       copy the .dds files beside the output, each named after its file\n"
                     "                        and a hash of its bytes (crate.512-<16 hex digits>.dds), so only\n"
                     "                        identical files share a copy; a .gltf with --keep-dds refers to them\n"
                     "  --strict              fail an input on any warning, writing nothing for it\n"
                     "  --list                list each model's meshes and the files it reads; write nothing\n"
                     "  --json                with --list: one JSON document for all models, for scripts\n"
                     "  -j, --jobs N          convert N models at a time, in as many processes (default: one\n"
                     "                        per processor)\n"
                     "  -q, --quiet           report errors only\n"
                     "  -v, --verbose         also report the import's summary and each mesh written\n"
                     "  --version             show the version\n"
                     "  -h, --help            show this help\n"
                     "\n"
                     "Options taking a value also take it as --option=value; '--' ends the options.\n"
                     "\n"
                     "Models keep the game's folder layout: references and textures are found under the\n"
                     "folder named 'content' in the model's path (content/meshes/..., content/textures/...).\n"
                     "Every texture becomes a PNG: inside a .glb, in <name>_textures/ beside a .gltf or .obj.\n"
                     "A missing or undecodable texture, a missing referenced .mesh, a reference or chunk the\n"
                     "loader had to skip: each is a warning on stderr, and the output keeps what it can.\n"
                     "The exit status is 0 only when every input was converted, 1 when one failed, 2 for a\n"
                     "usage error.\n"
                     "\n"
                     "examples:\n"
                     "  brennic-import content/meshes/props/storage.model          writes storage.glb beside it\n"
                     "  brennic-import -o out --format obj content/meshes          every .model under it, as OBJ\n"
                     "  brennic-import --list --json content/meshes                what each model holds, as JSON\n";

struct Options {
    std::vector<std::string> inputs;
    std::string output;
    std::string format; // empty: from the output's extension
    bool includeLods = false;
    bool gameNormals = false; // each vertex's normal from the file, not the host's
    bool copyTextures = false;
    bool keepDds = false;
    bool strict = false;
    bool list = false;
    bool json = false;
    bool help = false;
    bool version = false;
    int verbosity = 1; // 0 quiet, 1 normal, 2 verbose
    unsigned jobs = ProcessorCount();
};

struct Job {
    std::string input;
    std::string output;
    OutputFormat format;
};

// A command line that cannot be run: main says so and exits with 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

Options ParseArguments(int argc, char** argv)
{
    Options options;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            options.inputs.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        // --option=value
        std::optional<std::string> attached;
        if (const size_t equals = arg.find('='); arg.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            attached = arg.substr(equals + 1);
            arg.resize(equals);
        }
        const auto value = [&]() -> std::string {
            if (attached)
                return *attached;
            if (i + 1 >= argc)
                throw UsageError(arg + " needs a value");
            return argv[++i];
        };
        const auto flag = [&](bool& set) {
            if (attached)
                throw UsageError(arg + " takes no value");
            set = true;
        };
        if (arg == "-o" || arg == "--output")
            options.output = value();
        else if (arg == "--format") {
            options.format = value();
            if (options.format != "glb" && options.format != "gltf" && options.format != "obj")
                throw UsageError("unknown format '" + Printable(options.format) + "': glb, gltf or obj");
        } else if (arg == "-h" || arg == "--help")
            flag(options.help);
        else if (arg == "--version")
            flag(options.version);
        else if (arg == "--include-lods")
            flag(options.includeLods);
        else if (arg == "--normals") {
            const std::string mode = value();
            if (mode != "host" && mode != "game")
                throw UsageError("unknown normals '" + Printable(mode) + "': host or game");
            options.gameNormals = mode == "game";
        } else if (arg == "--copy-textures")
            flag(options.copyTextures);
        else if (arg == "--keep-dds")
            flag(options.keepDds);
        else if (arg == "--strict")
            flag(options.strict);
        else if (arg == "--list")
            flag(options.list);
        else if (arg == "--json")
            flag(options.json);
        else if (arg == "-j" || arg == "--jobs") {
            const std::string count = value();
            const bool number =
                !count.empty() && count.size() <= 3 && count.find_first_not_of("0123456789") == std::string::npos;
            options.jobs = number ? static_cast<unsigned>(std::stoul(count)) : 0;
            if (options.jobs == 0)
                throw UsageError(arg + " needs a number of processes from 1 to 999");
        } else if (arg == "-q" || arg == "--quiet") {
            bool quiet = false;
            flag(quiet);
            options.verbosity = 0;
        } else if (arg == "-v" || arg == "--verbose") {
            bool verbose = false;
            flag(verbose);
            options.verbosity = 2;
        } else
            throw UsageError("unknown option " + Printable(arg));
    }
    if (options.help || options.version)
        return options;
    if (options.inputs.empty())
        throw UsageError("no input given");
    if (options.json && !options.list)
        throw UsageError("--json goes with --list");
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

std::string LowerExtension(const fs::path& path)
{
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return extension;
}

// "glb", "gltf" or "obj" for an output file's name; empty for any other.
std::string FormatOfName(const fs::path& path)
{
    const std::string extension = LowerExtension(path);
    return extension == ".obj" || extension == ".gltf" || extension == ".glb" ? extension.substr(1) : "";
}

struct Source {
    fs::path file;
    fs::path relative; // below an output folder
};

// The model files the inputs name: a folder's .model files, sorted, below it.
std::vector<Source> FindModels(const std::vector<std::string>& inputs, std::vector<std::string>& problems)
{
    std::vector<Source> sources;
    for (const std::string& input : inputs) {
        std::error_code error;
        if (!fs::is_directory(input, error)) {
            sources.push_back({input, fs::path(input).filename()});
            continue;
        }
        std::vector<fs::path> found;
        for (auto entry = fs::recursive_directory_iterator(input, fs::directory_options::skip_permission_denied, error);
             !error && entry != fs::recursive_directory_iterator(); entry.increment(error))
            if (entry->is_regular_file(error) && LowerExtension(entry->path()) == ".model")
                found.push_back(entry->path());
        std::sort(found.begin(), found.end());
        if (error)
            problems.push_back(input + ": cannot read the whole folder: " + error.message());
        else if (found.empty())
            problems.push_back(input + ": no .model files in this folder");
        for (const fs::path& file : found)
            sources.push_back({file, fs::relative(file, input)});
    }
    return sources;
}

// Inputs become jobs, each output named after its input. Throws UsageError.
std::vector<Job> PlanJobs(const Options& options, std::vector<std::string>& problems)
{
    const std::vector<Source> sources = FindModels(options.inputs, problems);
    std::error_code error;
    const bool folderInput = std::any_of(options.inputs.begin(), options.inputs.end(),
                                         [&](const std::string& input) { return fs::is_directory(input, error); });
    const bool outputFolder = !options.output.empty() && fs::is_directory(options.output, error);
    const std::string outputFormat = options.output.empty() || outputFolder ? "" : FormatOfName(options.output);
    const bool severalOutputs = folderInput || options.inputs.size() > 1;
    // For one input, -o names the file to write when it has an extension; else a folder.
    const bool outputIsFile =
        !severalOutputs && !options.output.empty() && !outputFolder && fs::path(options.output).has_extension();
    if (severalOutputs && !outputFormat.empty())
        throw UsageError("-o " + Printable(options.output) + " names one file, but " +
                         (folderInput ? "a folder" : "several inputs") + " can give several outputs: give -o a folder");
    if (outputIsFile && !options.format.empty() && !outputFormat.empty() && outputFormat != options.format)
        throw UsageError("-o " + Printable(options.output) + " names a ." + outputFormat + " file, but --format " +
                         options.format + " was asked for: make them agree");
    std::string formatName = options.format;
    if (formatName.empty() && outputIsFile) {
        formatName = outputFormat;
        if (formatName.empty())
            throw UsageError("cannot tell the format from '" + Printable(options.output) +
                             "': give --format glb, gltf or obj");
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
            problems.push_back(source.file.string() + ": its output " + output.string() +
                               " is another input's too; skipped");
            continue;
        }
        jobs.push_back({source.file.string(), output.string(), format});
    }
    return jobs;
}

// What the plug-in's load of the main file found, for the words of a failure.
struct MainLoad {
    bool seen = false;
    std::string openProblem; // the loader's words when it could not open the file
    size_t knownChunks = 0;
    size_t missingReferences = 0;    // no such file
    size_t unreadableReferences = 0; // there, but not a file that can be read (a FIFO, a link loop, ...)
};

// Why a file the plug-in could not import failed, in the user's words.
std::string Diagnose(const std::string& input, const MainLoad& load)
{
    if (!load.seen) { // the plug-in gave up before loading
        std::error_code error;
        return fs::exists(input, error) ? "the plug-in could not import it" : "no such file";
    }
    if (!load.openProblem.empty())
        return load.openProblem;
    if (load.knownChunks == 0)
        return "not a Brennic model file (no mesh, reference or substitution chunk in it)";
    std::string reason = "holds no mesh with both vertices and triangles";
    if (const size_t missing = load.missingReferences)
        reason +=
            " (" + std::to_string(missing) + " referenced .mesh file" + (missing == 1 ? " is" : "s are") + " missing)";
    if (const size_t unreadable = load.unreadableReferences)
        reason += " (" + std::to_string(unreadable) + " referenced .mesh file" + (unreadable == 1 ? "" : "s") +
                  " could not be read)";
    return reason;
}

struct Converted {
    size_t nodes = 0, vertices = 0, triangles = 0;
    std::vector<std::string> details; // per mesh, for --verbose
};

// While it lives, each load the plug-in finishes reports what it left out as warnings, and
// the .mesh files it read are kept from the outputs. With `normals`, it takes the game's
// normals of the meshes loaded.
class LoadWatch {
public:
    LoadWatch(std::vector<std::string>& into, OutputFiles& outputs, MainLoad& main, GameNormals* normals = nullptr)
        : warnings(into), files(outputs), mainLoad(main), gameNormals(normals)
    {
        CBrennicModel::SetLoadObserver(&Observe, this);
    }
    ~LoadWatch() { CBrennicModel::SetLoadObserver(nullptr, nullptr); }
    LoadWatch(const LoadWatch&) = delete;
    LoadWatch& operator=(const LoadWatch&) = delete;

private:
    static void Observe(const CBrennicModel& model, const std::string&, void* context)
    {
        auto& watch = *static_cast<LoadWatch*>(context);
        MainLoad& main = watch.mainLoad;
        main.seen = true;
        main.openProblem = model.OpenProblem();
        main.knownChunks = model.KnownChunkCount();
        main.missingReferences = main.unreadableReferences = 0;
        for (const ReferenceNote& note : model.References())
            if (note.outcome == ReferenceNote::Outcome::Missing)
                ++(note.problem.rfind("no such file", 0) == 0 ? main.missingReferences : main.unreadableReferences);
        for (std::string& problem : LoadProblems(model))
            watch.warnings.push_back(std::move(problem));
        // Every file read, by the identity the loader read it by, however it was found.
        for (const auto& [identity, path] : model.FilesRead())
            watch.files.ProtectFile(identity.volume, identity.index, ToDisplayPath(path));
        if (watch.gameNormals)
            *watch.gameNormals = TakeGameNormals(model);
    }
    std::vector<std::string>& warnings;
    OutputFiles& files;
    MainLoad& mainLoad;
    GameNormals* gameNormals;
};

// One input: import through the plug-in, collect, write. Throws with the reason on failure;
// with --strict a warning is a failure, and nothing is written.
Converted Convert(PluginDriver& driver, const Job& job, const Options& options, TextureCache& textures,
                  std::vector<std::string>& warnings)
{
    // No output may replace a file the conversion reads: the input, its .mesh files, its textures.
    OutputFiles files(job.output);
    files.ProtectFile(job.input);
    files.CheckOutput(job.output);

    const std::string hostPath = ToHostPath(job.input);
    std::error_code sizeError;
    uintmax_t inputBytes = fs::file_size(job.input, sizeError);
    if (sizeError)
        inputBytes = 0;
    // A .glb is about as large as its model file: its pages are made ready meanwhile too.
    // First: the heap prefault slows the making of threads (their stacks wait for its steps).
    if (job.format == OutputFormat::Glb && inputBytes >= largeInputBytes)
        files.Prepare(job.output, inputBytes);
    const HeapPrefault prefault(inputBytes);
    ExportScene exported;
    {
        standin::Scene scene; // gone before the files are written, as is its memory
        ImportOutcome outcome;
        MainLoad mainLoad;
        GameNormals gameNormals;
        {
            const LoadWatch watch(warnings, files, mainLoad, options.gameNormals ? &gameNormals : nullptr);
            outcome = driver.Import(hostPath, options.includeLods, scene);
        }
        if (outcome.result != 1)
            throw std::runtime_error(Diagnose(job.input, mainLoad));
        if (ContentRootOf(hostPath).empty())
            warnings.insert(warnings.begin(), "no folder named 'content' holds " + job.input +
                                                  ": the .mesh files and textures it names are looked up under "
                                                  "content/meshes and content/textures, so none can be found");
        if (options.verbosity >= 2 && !outcome.summary.empty()) {
            // The summary box's own lines, each cleaned of control bytes.
            size_t start = 0;
            for (size_t end; (end = outcome.summary.find('\n', start)) != std::string::npos; start = end + 1)
                std::fprintf(stderr, "%s\n", Printable(outcome.summary.substr(start, end - start)).c_str());
            std::fprintf(stderr, "%s\n", Printable(outcome.summary.substr(start)).c_str());
        }
        exported = CollectScene(scene, nullptr, options.gameNormals ? &gameNormals : nullptr);
    }
    const std::string contentRoot = ContentRootOf(hostPath);
    for (const ExportTexture& texture : exported.textures)
        if (OutsideContentFolder(texture.path, contentRoot))
            warnings.push_back("texture " + NormalPath(texture.path) + " is outside the content folder " +
                               ToDisplayPath(contentRoot));
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
    for (const ExportTexture& texture : exported.textures)
        files.ProtectFile(texture.path);

    WriteOptions writeOptions;
    writeOptions.outputPath = job.output;
    writeOptions.copyTextures = options.copyTextures;
    writeOptions.keepDds = options.keepDds;
    writeOptions.textures = &textures;
    if (job.format == OutputFormat::Obj)
        WriteObj(exported, writeOptions, files, warnings);
    else
        WriteGltf(exported, writeOptions, job.format == OutputFormat::Glb, files, warnings);
    if (options.strict && !warnings.empty())
        throw std::runtime_error(std::to_string(warnings.size()) + (warnings.size() == 1 ? " warning" : " warnings") +
                                 " with --strict: nothing written");
    files.Commit();
    return counts;
}

int ConvertAll(const Options& options)
{
    std::vector<std::string> problems;
    const std::vector<Job> jobs = PlanJobs(options, problems);
    for (const std::string& problem : problems)
        std::fprintf(stderr, "brennic-import: %s\n", Printable(problem).c_str());

    PluginDriver driver;   // no import yet: each worker process starts from the same clean state
    TextureCache textures; // a texture named by several models is decoded once (per worker)
    const auto progressOf = [&](size_t i) {
        return jobs.size() > 1 ? "[" + std::to_string(i + 1) + "/" + std::to_string(jobs.size()) + "] " : std::string();
    };
    const auto convertOne = [&](size_t i) {
        const Job& job = jobs[i];
        const std::string progress = progressOf(i);
        const std::string input = Printable(job.input);
        std::vector<std::string> warnings;
        const auto printWarnings = [&] {
            if (options.verbosity >= 1)
                for (const std::string& warning : warnings)
                    std::fprintf(stderr, "  warning: %s\n", Printable(warning).c_str());
        };
        std::string failure; // printed after the warnings, which may be why
        try {
            const Converted counts = Convert(driver, job, options, textures, warnings);
            if (options.verbosity >= 1)
                std::fprintf(stderr, "%s%s -> %s: %zu mesh%s, %zu vertices, %zu triangles\n", progress.c_str(),
                             input.c_str(), Printable(job.output).c_str(), counts.nodes, counts.nodes == 1 ? "" : "es",
                             counts.vertices, counts.triangles);
            if (options.verbosity >= 2)
                for (const std::string& detail : counts.details)
                    std::fprintf(stderr, "  %s\n", Printable(detail).c_str());
            printWarnings();
            return true;
        } catch (const std::bad_alloc&) {
            failure = "not enough memory to convert it";
        } catch (const fs::filesystem_error& error) {
            failure = Describe(error);
        } catch (const std::exception& error) {
            failure = error.what();
        }
        printWarnings();
        std::fprintf(stderr, "%sbrennic-import: %s: %s\n", progress.c_str(), input.c_str(), Printable(failure).c_str());
        return false;
    };
    const auto lost = [&](size_t i, const std::string& why) {
        std::fprintf(stderr, "%sbrennic-import: %s: %s\n", progressOf(i).c_str(), Printable(jobs[i].input).c_str(),
                     why.c_str());
    };
    const size_t converted = RunJobs(jobs.size(), options.jobs, convertOne, lost);
    const size_t attempted = jobs.size() + problems.size();
    if (attempted > 1 && options.verbosity >= 1)
        std::fprintf(stderr, "converted %zu of %zu\n", converted, attempted);
    return converted == attempted && attempted > 0 ? 0 : 1;
}

// --list: each model named or found in a folder, as text or as one JSON document.
int ListAll(const Options& options)
{
    std::vector<std::string> problems;
    const std::vector<Source> sources = FindModels(options.inputs, problems);
    int status = problems.empty() ? 0 : 1;
    if (!options.json) {
        for (const std::string& problem : problems)
            std::fprintf(stderr, "brennic-import: %s\n", Printable(problem).c_str());
        for (size_t i = 0; i < sources.size(); ++i) {
            if (i)
                std::printf("\n");
            status |= ListModel(sources[i].file.string(), options.includeLods);
        }
        return status;
    }
    nlohmann::json models = nlohmann::json::array();
    for (const Source& source : sources)
        status |= ListModelJson(source.file.string(), options.includeLods, models);
    const nlohmann::json document = {{"generator", std::string("brennic-import ") + BRENNIC_VERSION},
                                     {"models", std::move(models)},
                                     {"problems", problems}};
    // Names are the game's bytes: any that are not UTF-8 become U+FFFD rather than fail.
    std::printf("%s\n", document.dump(1, '\t', false, nlohmann::json::error_handler_t::replace).c_str());
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    // A conversion allocates and frees arrays of tens of megabytes one after another: keep
    // freed memory for the next instead of handing it back and faulting it in again, in one
    // heap that the conversion's helper threads share.
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    mallopt(M_TRIM_THRESHOLD, -1);
    mallopt(M_TOP_PAD, 64 << 20);

    try {
        const Options options = ParseArguments(argc, argv);
        if (options.help) {
            std::fputs(usage, stdout);
            return 0;
        }
        if (options.version) {
            std::printf("brennic-import %s\n", BRENNIC_VERSION);
            return 0;
        }
        signalcleanup::Install(); // a run ended by TERM, INT or HUP leaves no temporaries
        return options.list ? ListAll(options) : ConvertAll(options);
    } catch (const UsageError& error) {
        std::fprintf(stderr, "brennic-import: %s\n(brennic-import --help shows how to use it)\n", error.what());
        return 2;
    } catch (const fs::filesystem_error& error) {
        std::fprintf(stderr, "brennic-import: %s\n", Printable(Describe(error)).c_str());
        return 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "brennic-import: %s\n", Printable(error.what()).c_str());
        return 1;
    }
}
