#pragma once

// Tests drive the plug-in as the host does: the entry point, the exports, the descriptor's
// importer and its DoImport, with the user's dialog actions scripted.

#include "Plugin.h"
#include "SceneTestSupport.h"
#include "StandInWin32.h"

#include "resource.h"

class PluginHostTest : public SceneTest {
protected:
    using Action = standin::DialogAction;
    static constexpr Action tickIncludeLods{Action::ClickCheckbox, IDC_INCLUDE_LODS};
    static constexpr Action letsGo{Action::PressButton, IDC_LETS_GO};
    static constexpr Action closeBox{Action::CloseBox, 0};

    void SetUp() override
    {
        DllMain(StandInModuleInstance(), DLL_PROCESS_ATTACH, nullptr);
        standin::TheDesktop() = standin::Desktop{};
    }

    // One import through the host's path, with the user doing `actions` in the dialog.
    int Import(const std::string& posixPath, std::vector<Action> actions, BOOL suppressPrompts = FALSE)
    {
        auto* importer = static_cast<SceneImport*>(LibClassDesc(0)->Create(FALSE));
        EXPECT_NE(importer, nullptr);
        if (!importer)
            return -1;
        standin::TheDesktop().dialogScript = std::move(actions);
        const int result =
            importer->DoImport(modelwriter::HostPath(posixPath).c_str(), &scene, nullptr, suppressPrompts);
        delete importer;
        return result;
    }

    const std::vector<standin::MessageBoxRecord>& Boxes() const { return standin::TheDesktop().messageBoxes; }
    const std::vector<standin::DialogRecord>& Dialogs() const { return standin::TheDesktop().dialogs; }
};
