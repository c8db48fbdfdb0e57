// brennic-import converts Brennic models to glTF 2.0 or OBJ by driving the 3ds Max plug-in's
// import as the host application would, or lists what a model holds.
#include "Convert.h"
#include "Jobs.h"
#include "Listing.h"
#include "OutputFiles.h"
#include "Printable.h"
#include "SignalCleanup.h"
#include "Workers.h"

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
                     "  --format FORMAT       %s (default: from the output's extension, else %s)\n"
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
    ConvertOptions convert;
    bool list = false;
    bool json = false;
    bool help = false;
    bool version = false;
    unsigned jobs = ProcessorCount();
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
            if (!FormatNamed(options.format))
                throw UsageError("unknown format '" + Printable(options.format) + "': " + FormatNames());
        } else if (arg == "-h" || arg == "--help")
            flag(options.help);
        else if (arg == "--version")
            flag(options.version);
        else if (arg == "--include-lods")
            flag(options.convert.includeLods);
        else if (arg == "--normals") {
            const std::string mode = value();
            if (mode != "host" && mode != "game")
                throw UsageError("unknown normals '" + Printable(mode) + "': host or game");
            options.convert.gameNormals = mode == "game";
        } else if (arg == "--copy-textures")
            flag(options.convert.copyTextures);
        else if (arg == "--keep-dds")
            flag(options.convert.keepDds);
        else if (arg == "--strict")
            flag(options.convert.strict);
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
            options.convert.verbosity = 0;
        } else if (arg == "-v" || arg == "--verbose") {
            bool verbose = false;
            flag(verbose);
            options.convert.verbosity = 2;
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

int ConvertAll(const Options& options)
{
    std::vector<std::string> problems;
    const std::vector<Job> jobs = PlanJobs(options.inputs, options.output, options.format, problems);
    for (const std::string& problem : problems)
        std::fprintf(stderr, "brennic-import: %s\n", Printable(problem).c_str());

    PluginDriver driver; // no import yet: each worker process starts from the same clean state
    // A texture named by several models is decoded once (per worker), on the processors that
    // the workers leave free, and so is its PNG deflated.
    const unsigned processes = WorkerProcesses(jobs.size(), options.jobs);
    TextureCache textures(TextureCache::defaultKeptBytes, std::max(1u, ProcessorCount() / processes));
    const auto progressOf = [&](size_t i) {
        return jobs.size() > 1 ? "[" + std::to_string(i + 1) + "/" + std::to_string(jobs.size()) + "] " : std::string();
    };
    const auto convertOne = [&](size_t i) {
        const Job& job = jobs[i];
        const std::string progress = progressOf(i);
        const std::string input = Printable(job.input);
        std::vector<std::string> warnings;
        const auto printWarnings = [&] {
            if (options.convert.verbosity >= 1)
                for (const std::string& warning : warnings)
                    std::fprintf(stderr, "  warning: %s\n", Printable(warning).c_str());
        };
        std::string failure; // printed after the warnings, since they may explain it
        try {
            const Converted counts = Convert(driver, job, options.convert, textures, warnings);
            if (options.convert.verbosity >= 1)
                std::fprintf(stderr, "%s%s -> %s: %zu mesh%s, %zu vertices, %zu triangles\n", progress.c_str(),
                             input.c_str(), Printable(job.output).c_str(), counts.nodes, counts.nodes == 1 ? "" : "es",
                             counts.vertices, counts.triangles);
            if (options.convert.verbosity >= 2)
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
    if (attempted > 1 && options.convert.verbosity >= 1)
        std::fprintf(stderr, "converted %zu of %zu\n", converted, attempted);
    return converted == attempted && attempted > 0 ? 0 : 1;
}

// --list: lists each model named or found in a folder, as text or as one JSON document.
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
            status |= ListModel(sources[i].file.string(), options.convert.includeLods);
        }
        return status;
    }
    nlohmann::json models = nlohmann::json::array();
    for (const Source& source : sources)
        status |= ListModelJson(source.file.string(), options.convert.includeLods, models);
    const nlohmann::json document = {{"generator", std::string("brennic-import ") + BRENNIC_VERSION},
                                     {"models", std::move(models)},
                                     {"problems", problems}};
    // Names are the game's raw bytes: bytes that are not valid UTF-8 become U+FFFD instead of failing the dump.
    std::printf("%s\n", document.dump(1, '\t', false, nlohmann::json::error_handler_t::replace).c_str());
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    // A conversion allocates and frees arrays of tens of megabytes one after another. Keep freed
    // memory for the next array instead of returning it and faulting it in again, and use one
    // heap for all of the conversion's helper threads.
    mallopt(M_ARENA_MAX, 1);
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    mallopt(M_TRIM_THRESHOLD, -1);
    mallopt(M_TOP_PAD, 64 << 20);

    try {
        const Options options = ParseArguments(argc, argv);
        if (options.help) {
            std::printf(usage, FormatNames().c_str(), outputFormats[0].name);
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
