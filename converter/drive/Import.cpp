#include "Import.h"

#include "BrennicModel.h"
#include "CollectScene.h"
#include "LoadReport.h"

#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

// What the plug-in's load of the main file found, used to explain a failure.
struct MainLoad {
    bool seen = false;
    std::string openProblem; // the loader's message when it could not open the file
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

// While a LoadWatch lives, each load the plug-in finishes adds what it left out to the warnings
// and records the files it read by their identities. With `normals`, it also takes the game's
// normals of the loaded meshes; with `stream`, it tells it what meshes to expect.
class LoadWatch {
public:
    LoadWatch(std::vector<std::string>& into, std::vector<FileRead>& read, MainLoad& main, GameNormals* normals,
              MeshStream* stream)
        : warnings(into), filesRead(read), mainLoad(main), gameNormals(normals), meshStream(stream)
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
        for (const auto& [identity, path] : model.FilesRead())
            watch.filesRead.push_back({identity.volume, identity.index, ToDisplayPath(path)});
        if (watch.gameNormals)
            *watch.gameNormals = TakeGameNormals(model);
        if (watch.meshStream) {
            size_t nameBytes = 0; // of the names that the nodes, materials and textures take theirs from
            for (int m = 0; m < model.GetMeshCount(); ++m)
                nameBytes += model.GetMesh(m)->names[0].size() + model.GetMesh(m)->names[1].size();
            watch.meshStream->Expect(size_t(model.GetMeshCount()), nameBytes);
        }
    }
    std::vector<std::string>& warnings;
    std::vector<FileRead>& filesRead;
    MainLoad& mainLoad;
    GameNormals* gameNormals;
    MeshStream* meshStream;
};

} // namespace

Imported Import(PluginDriver& driver, const std::string& input, const ImportOptions& options,
                std::vector<std::string>& warnings)
{
    const std::string hostPath = ToHostPath(input);
    Imported imported;
    {
        standin::Scene scene; // destroyed, with its memory, before the files are written
        MainLoad mainLoad;
        GameNormals gameNormals; // filled when the load ends, before the first node is made
        // Each node is collected as the plug-in adds it, and its host mesh freed once read.
        SceneCollector collector(options.gameNormals ? &gameNormals : nullptr, true, options.stream);
        scene.SetNodeObserver([&collector](standin::Node& node) { collector.Add(node); });
        ImportOutcome outcome;
        {
            const LoadWatch watch(warnings, imported.filesRead, mainLoad, options.gameNormals ? &gameNormals : nullptr,
                                  options.stream);
            outcome = driver.Import(hostPath, options.includeLods, scene);
        }
        if (outcome.result != 1)
            throw std::runtime_error(Diagnose(input, mainLoad));
        imported.summary = outcome.summary;
        imported.scene = collector.Finish();
    }
    const std::string contentRoot = ContentRootOf(hostPath);
    if (contentRoot.empty())
        warnings.insert(warnings.begin(), "no folder named 'content' holds " + input +
                                              ": the .mesh files and textures it names are looked up under "
                                              "content/meshes and content/textures, so none can be found");
    for (const ExportTexture& texture : imported.scene.textures) {
        if (OutsideContentFolder(texture.path, contentRoot))
            warnings.push_back("texture " + NormalPath(texture.path) + " is outside the content folder " +
                               ToDisplayPath(contentRoot));
        struct stat status {};
        if (stat(texture.file.c_str(), &status) == 0)
            imported.filesRead.push_back({uint64_t(status.st_dev), uint64_t(status.st_ino), texture.file});
    }
    return imported;
}
