#pragma once

// What the stand-in Win32 calls need from the host that runs the plug-in: the module's
// resources, the user's actions in dialogs, and where message boxes go.

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace standin {

// A module's resources as the stand-in finds them: the module's HINSTANCE points here.
struct StringResource {
    UINT id;
    const char* text;
};
struct ModuleResources {
    const StringResource* strings;
    std::size_t stringCount;
};

// One thing the user does in a dialog. A checkbox click toggles an automatic checkbox, then
// the dialog gets the command, as on Windows; setting a checkbox clicks it only if it shows
// the other state.
struct DialogAction {
    enum Kind { ClickCheckbox, SetCheckbox, PressButton, CloseBox } kind;
    int control = 0;
    bool checked = false; // for SetCheckbox
};

struct DialogRecord {
    UINT templateId = 0;
    HWND owner = nullptr;
    LPARAM initParam = 0;
    HWND centredOver = nullptr;
    bool centred = false;
    std::map<int, bool> checkboxes; // state when the dialog ended
    INT_PTR result = 0;
};

struct MessageBoxRecord {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
};

struct Desktop {
    std::vector<DialogAction> dialogScript; // what the user does in the next dialog
    bool dialogCannotShow = false;          // the next dialogs return -1, as without a window
    std::function<void(const MessageBoxRecord&)> messageBoxSink;

    std::vector<DialogRecord> dialogs; // shown, in order
    std::vector<MessageBoxRecord> messageBoxes;
};

Desktop& TheDesktop();

} // namespace standin

// The plug-in module's instance handle as a host that links it in passes to DllMain: it
// points at the module's resources, made from the same string table as the Windows module's.
HINSTANCE StandInModuleInstance();
