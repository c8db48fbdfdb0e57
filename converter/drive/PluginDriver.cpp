#include "PluginDriver.h"
#include "StandInHost.h"

#include "Plugin.h"
#include "StandInWin32.h"

#include "resource.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>

PluginDriver::PluginDriver()
{
    DllMain(StandInModuleInstance(), DLL_PROCESS_ATTACH, nullptr);
    if (LibNumberClasses() != 1 || LibVersion() != VERSION_3DSMAX || !LibInitialize())
        throw std::runtime_error("the plug-in does not answer as a scene importer");
}

PluginDriver::~PluginDriver()
{
    LibShutdown();
}

ImportOutcome PluginDriver::Import(const std::string& hostPath, bool includeLods, standin::Scene& scene)
{
    ClassDesc* descriptor = LibClassDesc(0);
    if (!descriptor || descriptor->SuperClassID() != SCENE_IMPORT_CLASS_ID)
        throw std::runtime_error("the plug-in offers no scene importer");
    auto* importer = static_cast<SceneImport*>(descriptor->Create(FALSE));
    if (!importer)
        throw std::bad_alloc();

    standin::Desktop& desktop = standin::TheDesktop();
    desktop.messageBoxes.clear();
    desktop.dialogScript = {{standin::DialogAction::SetCheckbox, IDC_INCLUDE_LODS, includeLods},
                            {standin::DialogAction::PressButton, IDC_LETS_GO}};
    ImportOutcome outcome;
    outcome.result = importer->DoImport(hostPath.c_str(), &scene, nullptr, TRUE);
    delete importer;
    if (!desktop.messageBoxes.empty())
        outcome.summary = desktop.messageBoxes.back().text;
    return outcome;
}

std::string ToHostPath(const std::string& path)
{
    std::string host = std::filesystem::absolute(path).lexically_normal().string();
    std::replace(host.begin(), host.end(), '/', '\\');
    return host;
}

std::string ToDisplayPath(std::string hostPath)
{
    std::replace(hostPath.begin(), hostPath.end(), '\\', '/');
    return hostPath;
}
