// Loads BrennicMeshImport.dli as the host application does, checks its exports, creates the
// importer and runs one import in real windows, then prints what the scene holds.
//
//   wine-test-host MODULE MODEL_PATH
//
// Prints one line per check ("ok ..." or "FAIL ..."), the import's result and the scene's
// nodes; exits with 1 when a check failed.
#include "StandInHost.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

int failures = 0;

void Check(bool holds, const char* what)
{
    std::printf("%s %s\n", holds ? "ok" : "FAIL", what);
    failures += holds ? 0 : 1;
}

using TextFunction = const char* (*)();
using IntFunction = int (*)();
using ClassDescFunction = ClassDesc* (*)(int);
using VersionFunction = ULONG (*)();

struct Export {
    const char* name;
    int ordinal;
};
const Export exports[] = {{"LibDescription", 1}, {"LibNumberClasses", 2}, {"LibClassDesc", 3},
                          {"LibVersion", 4},     {"LibInitialize", 6},    {"LibShutdown", 7}};

template <typename Function>
Function Find(HMODULE module, const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: wine-test-host MODULE MODEL_PATH\n");
        return 2;
    }
    HMODULE module = LoadLibraryA(argv[1]);
    if (!module) {
        std::printf("FAIL LoadLibrary %s: error %lu\n", argv[1], GetLastError());
        return 1;
    }
    for (const Export& entry : exports)
        Check(GetProcAddress(module, entry.name) &&
                  GetProcAddress(module, entry.name) == GetProcAddress(module, MAKEINTRESOURCEA(entry.ordinal)),
              entry.name);
    Check(GetProcAddress(module, MAKEINTRESOURCEA(5)) == nullptr, "ordinal 5 unassigned");

    const auto description = Find<TextFunction>(module, "LibDescription");
    const auto numberClasses = Find<IntFunction>(module, "LibNumberClasses");
    const auto classDesc = Find<ClassDescFunction>(module, "LibClassDesc");
    const auto version = Find<VersionFunction>(module, "LibVersion");
    const auto initialize = Find<IntFunction>(module, "LibInitialize");
    const auto shutdown = Find<IntFunction>(module, "LibShutdown");
    if (!description || !numberClasses || !classDesc || !version || !initialize || !shutdown)
        return 1;

    Check(initialize() == 1, "LibInitialize() == 1");
    Check(description() && std::strcmp(description(), "Brennic model importer (.model, .mesh)") == 0,
          "LibDescription() from the string table");
    Check(numberClasses() == 1, "LibNumberClasses() == 1");
    Check(version() == 0x2EE02100, "LibVersion() == 0x2EE02100");
    Check(classDesc(0) && classDesc(0) == classDesc(0), "LibClassDesc(0) is one descriptor");
    Check(classDesc(1) == nullptr && classDesc(-1) == nullptr, "LibClassDesc(1) and LibClassDesc(-1) are null");

    auto* descriptor = static_cast<ClassDesc2*>(classDesc(0));
    Check(std::strcmp(descriptor->ClassName(), "MeshImport") == 0, "ClassName() MeshImport");
    Check(std::strcmp(descriptor->Category(), "import") == 0, "Category() import");
    Check(descriptor->SuperClassID() == SCENE_IMPORT_CLASS_ID, "SuperClassID() scene importer");
    Check(descriptor->ClassID() == Class_ID(0xB9323550, 0x5EBF9454), "ClassID()");
    Check(descriptor->HInstance() == reinterpret_cast<HINSTANCE>(module), "HInstance() is the module");
    Check(descriptor->IsPublic() == 1, "IsPublic() == 1");
    Check(std::strcmp(descriptor->InternalName(), "MeshImport") == 0, "InternalName() MeshImport");

    auto* importer = static_cast<SceneImport*>(descriptor->Create(FALSE));
    Check(importer != nullptr, "Create() gives the importer");
    if (!importer)
        return 1;
    Check(importer->ExtCount() == 2 && std::strcmp(importer->Ext(0), "model") == 0 &&
              std::strcmp(importer->Ext(1), "mesh") == 0 && std::strcmp(importer->Ext(2), "") == 0,
          "Ext(): model, mesh, then empty");
    Check(std::strcmp(importer->LongDesc(), "Brennic Model File") == 0, "LongDesc() Brennic Model File");
    Check(std::strcmp(importer->ShortDesc(), "Brennic Model") == 0, "ShortDesc() Brennic Model");
    Check(std::strcmp(importer->AuthorName(), "Tamsel") == 0, "AuthorName() Tamsel");
    Check(*importer->CopyrightMessage() != '\0' && !*importer->OtherMessage1() && !*importer->OtherMessage2(),
          "a copyright message, no other messages");
    Check(importer->Version() == 110, "Version() == 110");

    standin::Scene scene;
    const int result = importer->DoImport(argv[2], &scene, nullptr, FALSE);
    std::printf("DoImport %d\n", result);
    std::printf("redraws %d\n", scene.Redraws());
    for (standin::Node* node : scene.Nodes()) {
        const Mesh& mesh = node->GetTriObject()->GetMesh();
        Mtl* material = node->GetMtl();
        auto* bitmap = material ? dynamic_cast<BitmapTex*>(material->GetSubTexmap(ID_DI)) : nullptr;
        std::printf("node %s vertices %d faces %d material %s map %s\n", node->GetName(), mesh.numVerts, mesh.numFaces,
                    material ? material->GetName().data() : "-", bitmap ? bitmap->GetMapName() : "-");
    }
    delete importer;
    Check(shutdown() == 1, "LibShutdown() == 1");
    FreeLibrary(module);
    return failures ? 1 : 0;
}
