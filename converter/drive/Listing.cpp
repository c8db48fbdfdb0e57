// brennic-import --list: what a model holds and what the plug-in makes of it.
#include "Listing.h"
#include "LoadReport.h"
#include "Printable.h"

#include "ModelHolder.h"
#include "PathLookup.h"
#include "PluginDriver.h"
#include "StandInHost.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <utility>
#include <vector>

using nlohmann::json;

namespace {

const char* FormName(VertexForm::Value form)
{
    switch (form) {
    case VertexForm::Static: return "static";
    case VertexForm::Skinned: return "skinned";
    default: return "-";
    }
}

const char* OutcomeName(ReferenceNote::Outcome outcome)
{
    switch (outcome) {
    case ReferenceNote::Outcome::Loaded: return "loaded";
    case ReferenceNote::Outcome::Missing: return "missing";
    case ReferenceNote::Outcome::SkippedLod: return "lod-not-loaded";
    case ReferenceNote::Outcome::SkippedCycle: return "cycle";
    case ReferenceNote::Outcome::SkippedTooDeep: return "too-deep";
    case ReferenceNote::Outcome::SkippedOverBudget: return "over-budget";
    }
    return "";
}

std::string ChunkProblem(const LoadWarning& warning)
{
    return ToDisplayPath(warning.file) + ", chunk at byte " + std::to_string(warning.offset) + ": " + warning.message;
}

std::string Plural(size_t count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// One model, loaded and built into a scene the way the plug-in does it.
struct Inspection {
    ModelHolder holder;
    standin::Scene scene;
    int loaded = 0;

    Inspection(const std::string& file, bool includeLods)
    {
        loaded = holder.Load(ToHostPath(file), includeLods);
        if (loaded)
            holder.BuildScene(&scene);
    }
    const CBrennicModel& Model() const { return *holder.model; }
    // The scene's node for each mesh, when the build kept them one to one.
    const Mesh* Built(int mesh) const
    {
        if (scene.Nodes().size() != size_t(Model().GetMeshCount()))
            return nullptr;
        return &scene.Nodes()[size_t(mesh)]->GetTriObject()->GetMesh();
    }
    std::string Texture(int mesh, bool& found) const
    {
        const std::string path = ToDisplayPath(holder.ResolveTexturePath(Model().GetMesh(mesh)->names[0]));
        std::error_code error;
        found = std::filesystem::is_regular_file(ResolvePathIgnoringCase(path), error); // as the game finds it
        return path;
    }
};

bool Skipped(const ReferenceNote& note)
{
    return note.outcome != ReferenceNote::Outcome::Loaded && note.outcome != ReferenceNote::Outcome::SkippedLod;
}

// Whether the loader's message adds anything to the outcome; for a missing file it does not.
bool LoaderSaysWhy(const ReferenceNote& note)
{
    return !note.problem.empty() && note.problem != "no such file";
}

void PrintWarnings(const CBrennicModel& model)
{
    if (model.WarningCount() == 0)
        return;
    std::printf("\n%s in the data (the parts concerned were left out):\n",
                Plural(model.WarningCount(), "problem", "problems").c_str());
    for (const LoadWarning& warning : model.Warnings())
        std::printf("  %s\n", Printable(ChunkProblem(warning)).c_str());
    if (model.WarningCount() > model.Warnings().size())
        std::printf("  ... and %zu more\n", model.WarningCount() - model.Warnings().size());
}

bool EqualIgnoringCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

// Compares folder by folder, ignoring case as the game's platform does, after taking out "."
// and "..". This is for a content folder that is not on disk, where only the names can tell.
bool OutsideByName(const std::string& hostPath, const std::string& contentRoot)
{
    const std::filesystem::path path = NormalPath(hostPath), root = NormalPath(contentRoot);
    auto part = path.begin();
    for (auto folder = root.begin(); folder != root.end(); ++folder, ++part) {
        if (folder->empty())
            continue; // the root ends in '/'
        if (part == path.end() || !EqualIgnoringCase(part->string(), folder->string()))
            return true;
    }
    return false;
}

using Identity = std::pair<dev_t, ino_t>;

std::optional<Identity> Identify(const std::string& path)
{
    struct stat status {};
    if (stat(path.c_str(), &status) != 0)
        return std::nullopt;
    return Identity{status.st_dev, status.st_ino};
}

// The path's names, without the empty ones and "."; false when a ".." is among them.
bool NamesGoingDown(const std::string& path, std::vector<std::string>& names)
{
    for (size_t start = 0; start < path.size();) {
        size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string name = path.substr(start, end - start);
        if (name == "..")
            return false;
        if (!name.empty() && name != ".")
            names.push_back(name);
        start = end + 1;
    }
    return true;
}

// True when `path` names the folder `root` names, then only goes down from it: a walk of the
// path meets the root's identity at that very prefix and never leaves it.
bool GoesDownFrom(const std::string& path, const std::string& root)
{
    std::vector<std::string> pathNames, rootNames;
    return !path.empty() && !root.empty() && (path[0] == '/') == (root[0] == '/') && NamesGoingDown(path, pathNames) &&
           NamesGoingDown(root, rootNames) && rootNames.size() <= pathNames.size() &&
           std::equal(rootNames.begin(), rootNames.end(), pathNames.begin());
}

} // namespace

std::string ReferencesText(const CBrennicModel& model, const std::string& mainFile)
{
    std::string text = "\nfiles read:\n  " + Printable(mainFile) + "\n";
    int lodsSkipped = 0;
    for (const ReferenceNote& note : model.References()) {
        text += std::string(2 * note.depth + 2, ' ') + Printable(ToDisplayPath(note.path));
        const std::string fate = ReferenceFate(note);
        if (!fate.empty())
            text += "  (" + Printable(fate) + ")";
        text += "\n";
        lodsSkipped += note.outcome == ReferenceNote::Outcome::SkippedLod;
    }
    if (model.ReferenceCount() > model.References().size())
        text +=
            "  ... and " + std::to_string(model.ReferenceCount() - model.References().size()) + " more references\n";
    if (lodsSkipped)
        text += "(" + Plural(size_t(lodsSkipped), "LOD reference", "LOD references") +
                " not loaded; pass --include-lods to load them)\n";
    return text;
}

json ReferencesJson(const CBrennicModel& model)
{
    json references = json::array();
    for (const ReferenceNote& note : model.References()) {
        json item = {{"path", ToDisplayPath(note.path)}, {"depth", note.depth}, {"outcome", OutcomeName(note.outcome)}};
        if (Skipped(note))
            item["problem"] = SkipCause(note);
        references.push_back(std::move(item));
    }
    return references;
}

const char* OutcomeText(ReferenceNote::Outcome outcome)
{
    switch (outcome) {
    case ReferenceNote::Outcome::Loaded: return nullptr;
    case ReferenceNote::Outcome::Missing: return "missing, skipped";
    case ReferenceNote::Outcome::SkippedLod: return "LOD, not loaded";
    case ReferenceNote::Outcome::SkippedCycle: return "already being read: reference cycle, skipped";
    case ReferenceNote::Outcome::SkippedTooDeep: return "references nested too deeply, skipped";
    case ReferenceNote::Outcome::SkippedOverBudget: return "past the load's limits on referenced files, skipped";
    }
    return nullptr;
}

std::string SkipCause(const ReferenceNote& note)
{
    if (!note.problem.empty())
        return note.problem;
    switch (note.outcome) {
    case ReferenceNote::Outcome::Missing: return "no such file";
    case ReferenceNote::Outcome::SkippedCycle: return "already being read: reference cycle";
    case ReferenceNote::Outcome::SkippedTooDeep: return "references nested too deeply";
    case ReferenceNote::Outcome::SkippedOverBudget: return "past the load's limits on referenced files";
    default: return "";
    }
}

std::string ReferenceFate(const ReferenceNote& note)
{
    if (Skipped(note) && LoaderSaysWhy(note))
        return note.problem + "; skipped";
    const char* text = OutcomeText(note.outcome);
    return text ? text : "";
}

std::vector<std::string> LoadProblems(const CBrennicModel& model)
{
    std::vector<std::string> problems;
    for (const ReferenceNote& note : model.References()) {
        if (note.outcome == ReferenceNote::Outcome::Loaded && OutsideContentFolder(note.path, model.contentRoot))
            problems.push_back("referenced file " + NormalPath(note.path) + " is outside the content folder " +
                               ToDisplayPath(model.contentRoot));
        if (note.outcome == ReferenceNote::Outcome::Loaded || note.outcome == ReferenceNote::Outcome::SkippedLod)
            continue;
        const std::string file = "referenced file " + ToDisplayPath(note.path);
        if (LoaderSaysWhy(note))
            problems.push_back(file + ": " + ReferenceFate(note));
        else
            problems.push_back(file + " (" + ReferenceFate(note) + ")");
    }
    // Only references that were left out are problems; beyond the listed notes, the model counts just those.
    if (model.UnlistedSkippedReferences() > 0)
        problems.push_back(
            "... and " +
            Plural(model.UnlistedSkippedReferences(), "more skipped reference", "more skipped references") +
            " not listed");
    for (const LoadWarning& warning : model.Warnings())
        problems.push_back(ChunkProblem(warning)); // each message says what became of the chunk
    if (model.WarningCount() > model.Warnings().size())
        problems.push_back("... and " + Plural(model.WarningCount() - model.Warnings().size(), "more damaged chunk",
                                               "more damaged chunks"));
    return problems;
}

std::string NormalPath(const std::string& hostPath)
{
    const std::string path = ToDisplayPath(hostPath);
    const std::string lexical = std::filesystem::path(path).lexically_normal().string();
    const std::string found = ResolvePathIgnoringCase(path); // the file the loader reads
    const std::optional<Identity> file = Identify(found);
    if (!file)
        return lexical;
    // ".." after a link, or a name found ignoring case, can make the plain form name another
    // file or none at all; in that case, show the file's real path.
    for (const std::string& shown : {lexical, std::filesystem::path(found).lexically_normal().string()})
        if (Identify(shown) == file)
            return shown;
    std::error_code error;
    const std::filesystem::path real = std::filesystem::canonical(found, error);
    return error ? lexical : real.string();
}

bool OutsideContentFolder(const std::string& hostPath, const std::string& contentRoot)
{
    if (contentRoot.empty())
        return false; // no content folder to be outside of
    const std::string rootPath = ResolvePathIgnoringCase(ToDisplayPath(contentRoot));
    bool found = false;
    const std::string path = ResolvePathIgnoringCase(ToDisplayPath(hostPath), nullptr, &found);
    // As nearly every path the plug-in makes does, a path that only goes down from the content
    // folder is inside it: a walk would meet the folder at that very prefix. A path found on disk
    // shows the folder is there.
    const bool goesDown = GoesDownFrom(path, rootPath);
    if (goesDown && found)
        return false;
    const std::optional<Identity> root = Identify(rootPath);
    if (!root)
        return OutsideByName(hostPath, contentRoot);
    if (goesDown)
        return false;
    // Walk the path the loader opens as the system resolves it: a name spelt in another case may be
    // another folder ("Game" beside "game"), and ".." after a link goes to the link's real parent.
    // The path is inside from the content folder on, as long as each ".." undoes a step taken in.
    std::vector<std::optional<Identity>> entered; // from the content folder down; empty when outside
    std::string walked = path.rfind('/', 0) == 0 ? "/" : "";
    size_t start = 0;
    while (start < path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string part = path.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".")
            continue;
        walked += (walked.empty() || walked.back() == '/' ? "" : "/") + part;
        const std::optional<Identity> here = Identify(walked); // none past a missing folder
        if (here == root)
            entered.assign(1, here);
        else if (part != "..") {
            if (!entered.empty())
                entered.push_back(here);
        } else if (entered.size() >= 2 &&
                   (!here || !entered[entered.size() - 2] || here == entered[entered.size() - 2]))
            entered.pop_back(); // back up the way it came (or nothing on disk says otherwise)
        else
            entered.clear();
    }
    return entered.empty();
}

int ListModel(const std::string& file, bool includeLods)
{
    const Inspection inspection(file, includeLods);
    const CBrennicModel& model = inspection.Model();
    if (!model.OpenProblem().empty()) { // not opened: a FIFO, missing, too large ...
        std::fprintf(stderr, "brennic-import: %s: %s\n", Printable(file).c_str(),
                     Printable(model.OpenProblem()).c_str());
        return 1;
    }
    const std::string shown = Printable(file);

    uint64_t vertices = 0, triangles = 0, weldedVertices = 0, faces = 0;
    for (int i = 0; i < model.GetMeshCount(); ++i) {
        vertices += model.GetMesh(i)->vertexCount;
        triangles += model.GetMesh(i)->indexCount / 3;
    }
    for (standin::Node* node : inspection.scene.Nodes()) {
        weldedVertices += uint64_t(node->GetTriObject()->GetMesh().numVerts);
        faces += uint64_t(node->GetTriObject()->GetMesh().numFaces);
    }
    std::printf("%s: %d mesh%s, %llu vertices, %llu triangles\n", shown.c_str(), model.GetMeshCount(),
                model.GetMeshCount() == 1 ? "" : "es", static_cast<unsigned long long>(vertices),
                static_cast<unsigned long long>(triangles));
    if (inspection.loaded)
        std::printf("scene: %zu node%s, %llu vertices after the weld, %llu faces\n", inspection.scene.Nodes().size(),
                    inspection.scene.Nodes().size() == 1 ? "" : "s", static_cast<unsigned long long>(weldedVertices),
                    static_cast<unsigned long long>(faces));
    if (model.GetMeshCount() > 0 && inspection.Built(0)) {
        std::printf("\n  %-4s %-24s %-8s %9s %10s %7s %7s  %s\n", "#", "mesh", "form", "vertices", "triangles",
                    "welded", "faces", "texture");
        for (int i = 0; i < model.GetMeshCount(); ++i) {
            const ModelMesh& mesh = *model.GetMesh(i);
            const Mesh& built = *inspection.Built(i);
            bool found = false;
            const std::string texture = inspection.Texture(i, found);
            std::printf("  %-4d %-24s %-8s %9u %10u %7d %7d  %s%s\n", i, Printable(mesh.names[1]).c_str(),
                        FormName(mesh.vertexForm), mesh.vertexCount, mesh.indexCount / 3, built.numVerts,
                        built.numFaces, Printable(texture).c_str(), found ? "" : " (missing)");
        }
    }
    std::fputs(ReferencesText(model, ToDisplayPath(ToHostPath(file))).c_str(), stdout);
    PrintWarnings(model);

    if (!inspection.loaded) {
        std::fprintf(
            stderr,
            "brennic-import: %s: no mesh with both vertices and triangles; is it a Brennic .model or .mesh file?\n",
            shown.c_str());
        return 1;
    }
    return 0;
}

int ListModelJson(const std::string& file, bool includeLods, json& models)
{
    json entry = {{"file", file}};
    const Inspection inspection(file, includeLods);
    const CBrennicModel& model = inspection.Model();
    if (!model.OpenProblem().empty()) {
        entry["error"] = model.OpenProblem();
        models.push_back(std::move(entry));
        return 1;
    }
    json meshes = json::array(), textures = json::array(), warnings = json::array();
    std::set<std::string> texturesSeen;
    for (int i = 0; i < model.GetMeshCount(); ++i) {
        const ModelMesh& mesh = *model.GetMesh(i);
        bool found = false;
        const std::string texture = inspection.Texture(i, found);
        json item = {{"name", mesh.names[1]},
                     {"form", FormName(mesh.vertexForm)},
                     {"vertices", mesh.vertexCount},
                     {"triangles", mesh.indexCount / 3},
                     {"texture", texture}};
        if (const Mesh* built = inspection.Built(i)) {
            item["weldedVertices"] = built->numVerts;
            item["faces"] = built->numFaces;
        }
        meshes.push_back(std::move(item));
        if (texturesSeen.insert(texture).second)
            textures.push_back({{"path", texture}, {"found", found}});
    }
    for (const LoadWarning& warning : model.Warnings())
        warnings.push_back(
            {{"file", ToDisplayPath(warning.file)}, {"offset", warning.offset}, {"message", warning.message}});
    entry["meshes"] = std::move(meshes);
    entry["textures"] = std::move(textures);
    entry["references"] = ReferencesJson(model);
    entry["referencesNotListed"] = model.ReferenceCount() - model.References().size();
    entry["warnings"] = std::move(warnings);
    entry["warningsNotListed"] = model.WarningCount() - model.Warnings().size();
    if (!inspection.loaded)
        entry["error"] = "no mesh with both vertices and triangles";
    models.push_back(std::move(entry));
    return inspection.loaded ? 0 : 1;
}
