// The module's entry point, its six exports and the string lookup.
#include "Plugin.h"

#include "resource.h"

namespace {

HINSTANCE moduleInstance = NULL;
char stringBuffer[256];

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        moduleInstance = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

HINSTANCE ModuleInstance()
{
    return moduleInstance;
}

const char* GetString(int id)
{
    if (!moduleInstance)
        return NULL;
    return LoadStringA(moduleInstance, UINT(id), stringBuffer, sizeof stringBuffer) ? stringBuffer : NULL;
}

extern "C" {

const char* LibDescription()
{
    return GetString(IDS_LIB_DESCRIPTION);
}

int LibNumberClasses()
{
    return 1;
}

ClassDesc* LibClassDesc(int i)
{
    if (i != 0)
        return NULL;
    static MeshImportClassDesc descriptor; // made on first use, destroyed at unload
    return &descriptor;
}

ULONG LibVersion()
{
    return VERSION_3DSMAX;
}

int LibInitialize()
{
    return 1;
}

int LibShutdown()
{
    return 1;
}

} // extern "C"
