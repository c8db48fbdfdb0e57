// The plug-in module's resources for the stand-in host, made from the same string table the
// resource script compiles for Windows: the module's instance handle points at them.
#include "StandInWin32.h"

#include "resource.h"

namespace {

const standin::StringResource strings[] = {
#define STRING_RESOURCE(id, text) {id, text},
#include "StringTable.inc"
#undef STRING_RESOURCE
};

const standin::ModuleResources resources{strings, sizeof strings / sizeof strings[0]};

} // namespace

HINSTANCE StandInModuleInstance()
{
    return reinterpret_cast<HINSTANCE>(const_cast<standin::ModuleResources*>(&resources));
}
