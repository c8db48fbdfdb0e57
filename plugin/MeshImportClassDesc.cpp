#include "Plugin.h"

#include "resource.h"

#include <new>

void* MeshImportClassDesc::Create(BOOL)
{
    return new (std::nothrow) MeshImport; // null, not an exception, when the host's heap is exhausted
}

const MCHAR* MeshImportClassDesc::ClassName()
{
    return GetString(IDS_CLASS_NAME);
}

Class_ID MeshImportClassDesc::ClassID()
{
    return Class_ID(0xB9323550, 0x5EBF9454);
}

const MCHAR* MeshImportClassDesc::Category()
{
    return GetString(IDS_CATEGORY);
}
