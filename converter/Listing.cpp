// brennic-import --list: what a model holds and what the plug-in makes of it.
#include "Listing.h"

#include "BrennicModel.h"
#include "ModelHolder.h"
#include "PluginDriver.h"
#include "StandInHost.h"

#include <cstdio>
#include <filesystem>

namespace {

const char* FormName(VertexForm form)
{
    switch (form) {
    case VertexForm::Static: return "static";
    case VertexForm::Skinned: return "skinned";
    default: return "-";
    }
}

void PrintReferences(const CBrennicModel& model, const std::string& mainFile)
{
    std::printf("\nfiles read:\n  %s\n", mainFile.c_str());
    int lodsSkipped = 0;
    for (const ReferenceNote& note : model.References()) {
        const std::string indent(2 * note.depth + 2, ' ');
        const std::string path = ToDisplayPath(note.path);
        switch (note.outcome) {
        case ReferenceNote::Outcome::Loaded: std::printf("%s%s\n", indent.c_str(), path.c_str()); break;
        case ReferenceNote::Outcome::Missing: std::printf("%s%s  (missing, skipped)\n", indent.c_str(), path.c_str()); break;
        case ReferenceNote::Outcome::SkippedLod: std::printf("%s%s  (LOD, not loaded)\n", indent.c_str(), path.c_str()); ++lodsSkipped; break;
        case ReferenceNote::Outcome::SkippedCycle: std::printf("%s%s  (already being read: reference cycle, skipped)\n", indent.c_str(), path.c_str()); break;
        case ReferenceNote::Outcome::SkippedTooDeep: std::printf("%s%s  (references nested too deeply, skipped)\n", indent.c_str(), path.c_str()); break;
        case ReferenceNote::Outcome::SkippedOverBudget: std::printf("%s%s  (too many referenced files, skipped)\n", indent.c_str(), path.c_str()); break;
        }
    }
    if (model.ReferenceCount() > model.References().size())
        std::printf("  ... and %zu more references\n", model.ReferenceCount() - model.References().size());
    if (lodsSkipped)
        std::printf("(%d LOD reference%s not loaded; pass --include-lods to load them)\n", lodsSkipped, lodsSkipped == 1 ? "" : "s");
}

void PrintWarnings(const CBrennicModel& model)
{
    if (model.WarningCount() == 0)
        return;
    std::printf("\n%zu problem%s in the data (the parts concerned were left out):\n", model.WarningCount(),
                model.WarningCount() == 1 ? "" : "s");
    for (const LoadWarning& warning : model.Warnings())
        std::printf("  %s, chunk at byte %u: %s\n", ToDisplayPath(warning.file).c_str(), warning.offset, warning.message.c_str());
    if (model.WarningCount() > model.Warnings().size())
        std::printf("  ... and %zu more\n", model.WarningCount() - model.Warnings().size());
}

// The texture the material points at, as a user would look for it.
std::string TextureColumn(const ModelHolder& holder, const ModelMesh& mesh)
{
    const std::string path = ToDisplayPath(holder.ResolveTexturePath(mesh.names[0]));
    std::error_code error;
    return std::filesystem::exists(path, error) ? path : path + " (missing)";
}

} // namespace

int ListModel(const std::string& file, bool includeLods)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) {
        std::fprintf(stderr, "brennic-import: %s: no such file\n", file.c_str());
        return 1;
    }
    const std::string hostPath = ToHostPath(file);
    ModelHolder holder;
    const int loaded = holder.Load(hostPath, includeLods);
    const CBrennicModel& model = *holder.model;
    standin::Scene scene;
    if (loaded)
        holder.BuildScene(&scene);

    uint64_t vertices = 0, triangles = 0, weldedVertices = 0, faces = 0;
    for (int i = 0; i < model.GetMeshCount(); ++i) {
        vertices += model.GetMesh(i)->vertexCount;
        triangles += model.GetMesh(i)->indexCount / 3;
    }
    for (standin::Node* node : scene.Nodes()) {
        weldedVertices += uint64_t(node->GetTriObject()->GetMesh().numVerts);
        faces += uint64_t(node->GetTriObject()->GetMesh().numFaces);
    }
    std::printf("%s: %d mesh%s, %llu vertices, %llu triangles\n", file.c_str(), model.GetMeshCount(),
                model.GetMeshCount() == 1 ? "" : "es", static_cast<unsigned long long>(vertices),
                static_cast<unsigned long long>(triangles));
    if (loaded)
        std::printf("scene: %zu node%s, %llu vertices after the weld, %llu faces\n", scene.Nodes().size(),
                    scene.Nodes().size() == 1 ? "" : "s", static_cast<unsigned long long>(weldedVertices),
                    static_cast<unsigned long long>(faces));
    if (scene.Nodes().size() == size_t(model.GetMeshCount()) && !scene.Nodes().empty()) {
        std::printf("\n  %-4s %-24s %-8s %9s %10s %7s %7s  %s\n", "#", "mesh", "form", "vertices", "triangles",
                    "welded", "faces", "texture");
        for (int i = 0; i < model.GetMeshCount(); ++i) {
            const ModelMesh& mesh = *model.GetMesh(i);
            const Mesh& built = scene.Nodes()[size_t(i)]->GetTriObject()->GetMesh();
            std::printf("  %-4d %-24s %-8s %9u %10u %7d %7d  %s\n", i, mesh.names[1].c_str(), FormName(mesh.vertexForm),
                        mesh.vertexCount, mesh.indexCount / 3, built.numVerts, built.numFaces,
                        TextureColumn(holder, mesh).c_str());
        }
    }
    PrintReferences(model, ToDisplayPath(hostPath));
    PrintWarnings(model);

    if (!loaded) {
        std::fprintf(stderr, "brennic-import: %s: no mesh with both vertices and triangles; is it a Brennic .model or .mesh file?\n",
                     file.c_str());
        return 1;
    }
    return 0;
}

