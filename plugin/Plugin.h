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
    int IsPublic() { return 1; }
    void* Create(BOOL loading = FALSE);
    const MCHAR* ClassName();
    SClass_ID SuperClassID() { return SCENE_IMPORT_CLASS_ID; }
    Class_ID ClassID();
    const MCHAR* Category();
    const MCHAR* InternalName() { return "MeshImport"; }
    HINSTANCE HInstance() { return ModuleInstance(); }
};

class MeshImport : public SceneImport {
public:
    int ExtCount() { return 2; }
    const MCHAR* Ext(int n);
    const MCHAR* LongDesc() { return "Brennic Model File"; }
    const MCHAR* ShortDesc() { return "Brennic Model"; }
    const MCHAR* AuthorName() { return "Tamsel"; }
    const MCHAR* CopyrightMessage() { return "Brennic Mesh Import, free to use"; }
    const MCHAR* OtherMessage1() { return ""; }
    const MCHAR* OtherMessage2() { return ""; }
    unsigned int Version() { return 110; }
    void ShowAbout(HWND) {}
    int DoImport(const MCHAR* name, ImpInterface* ii, Interface* i, BOOL suppressPrompts = FALSE);
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
