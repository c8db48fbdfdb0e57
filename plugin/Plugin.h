#pragma once

// Module-wide state of the plug-in, shared by its entry points, descriptor and importer.

#include "HostApi.h"

// The module's instance handle: null until the entry point has run for process attach.
HINSTANCE ModuleInstance();

// The string resource `id`, read into one buffer that every lookup shares; null when the
// module instance is unknown or the string is missing.
const char* GetString(int id);

// The import settings dialog's one option; false when the module loads.
extern bool includeLodsSetting;

INT_PTR CALLBACK ImportSettingsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

class MeshImportClassDesc : public ClassDesc2 {
public:
    int IsPublic() override { return 1; }
    void* Create(BOOL loading = FALSE) override;
    const MCHAR* ClassName() override;
    SClass_ID SuperClassID() override { return SCENE_IMPORT_CLASS_ID; }
    Class_ID ClassID() override;
    const MCHAR* Category() override;
    const MCHAR* InternalName() override { return "MeshImport"; }
    HINSTANCE HInstance() override { return ModuleInstance(); }
};

class MeshImport : public SceneImport {
public:
    int ExtCount() override { return 2; }
    const MCHAR* Ext(int n) override;
    const MCHAR* LongDesc() override { return "Brennic Model File"; }
    const MCHAR* ShortDesc() override { return "Brennic Model"; }
    const MCHAR* AuthorName() override { return "Tamsel"; }
    const MCHAR* CopyrightMessage() override { return "Brennic Mesh Import, free to use"; }
    const MCHAR* OtherMessage1() override { return ""; }
    const MCHAR* OtherMessage2() override { return ""; }
    unsigned int Version() override { return 110; }
    void ShowAbout(HWND) override {}
    int DoImport(const MCHAR* name, ImpInterface* ii, Interface* i, BOOL suppressPrompts = FALSE) override;
};

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

extern "C" {
const char* LibDescription();
int LibNumberClasses();
ClassDesc* LibClassDesc(int i);
ULONG LibVersion();
int LibInitialize();
int LibShutdown();
}
