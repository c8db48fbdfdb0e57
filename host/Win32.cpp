// The Win32 and C runtime calls the plug-in makes, on POSIX.
#include "HostApi.h"
#include "PathLookup.h"
#include "StandInWin32.h"

#include <shlwapi.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <sys/stat.h>

BOOL PathFileExistsA(const char* path)
{
    if (!path)
        return FALSE;
    std::string posixPath = path;
    std::replace(posixPath.begin(), posixPath.end(), '\\', '/');
    // The game's platform finds its files whatever their case; so does the stand-in.
    bool found = false;
    posixPath = ResolvePathIgnoringCase(posixPath, nullptr, &found);
    if (!found)
        return FALSE;
    struct stat status {};
    return stat(posixPath.c_str(), &status) == 0 ? TRUE : FALSE;
}

int vsprintf_s(char* buffer, std::size_t size, const char* format, va_list arguments)
{
    if (!buffer || size == 0 || !format)
        return -1;
    const int written = std::vsnprintf(buffer, size, format, arguments);
    if (written < 0 || std::size_t(written) >= size) {
        buffer[0] = '\0'; // the secure runtime empties the buffer rather than truncating
        return -1;
    }
    return written;
}

// ---- Modules and strings

BOOL DisableThreadLibraryCalls(HMODULE module)
{
    return module ? TRUE : FALSE;
}

int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int bufferSize)
{
    if (!instance || !buffer || bufferSize <= 0)
        return 0;
    const auto* resources = reinterpret_cast<const standin::ModuleResources*>(instance);
    for (std::size_t i = 0; i < resources->stringCount; ++i) {
        if (resources->strings[i].id != id)
            continue;
        const std::string text = resources->strings[i].text;
        const std::size_t length = std::min(text.size(), std::size_t(bufferSize - 1));
        text.copy(buffer, length);
        buffer[length] = '\0';
        return int(length);
    }
    return 0;
}

// ---- Dialogs and message boxes

namespace {

// A window of the stand-in desktop: a dialog or one of its controls.
struct Window {
    Window* dialog = nullptr; // for a control, its dialog
    HWND owner = nullptr;     // for a dialog, its owner
    int id = 0;
    bool checked = false;
    bool ended = false;
    INT_PTR result = 0;
    std::map<int, Window> controls;
    std::size_t record = SIZE_MAX; // a dialog's place in the desktop's records

    HWND Handle() { return reinterpret_cast<HWND>(this); }
    Window& Control(int controlId)
    {
        Window& control = controls[controlId];
        control.dialog = this;
        control.id = controlId;
        return control;
    }
};

Window* Find(HWND handle)
{
    return reinterpret_cast<Window*>(handle);
}

} // namespace

namespace standin {

Desktop& TheDesktop()
{
    static Desktop desktop;
    return desktop;
}

} // namespace standin

// Runs the dialog modally: the procedure gets WM_INITDIALOG, then the user's actions from the
// host's script; a user who runs out of actions closes the box.
INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC procedure, LPARAM initParam)
{
    standin::Desktop& desktop = standin::TheDesktop();
    std::vector<standin::DialogAction> script;
    script.swap(desktop.dialogScript);
    if (desktop.dialogCannotShow || !instance || !procedure)
        return -1;

    Window dialog;
    dialog.owner = owner;
    dialog.record = desktop.dialogs.size();
    standin::DialogRecord shown;
    shown.templateId = UINT(reinterpret_cast<std::uintptr_t>(templateName));
    shown.owner = owner;
    shown.initParam = initParam;
    desktop.dialogs.push_back(shown);

    procedure(dialog.Handle(), WM_INITDIALOG, 0, initParam);
    for (const standin::DialogAction& action : script) {
        if (dialog.ended)
            break;
        switch (action.kind) {
        case standin::DialogAction::SetCheckbox:
        case standin::DialogAction::ClickCheckbox: {
            Window& box = dialog.Control(action.control);
            if (action.kind == standin::DialogAction::SetCheckbox && box.checked == action.checked)
                break;
            box.checked = !box.checked;
            procedure(dialog.Handle(), WM_COMMAND, WPARAM(action.control) | WPARAM(BN_CLICKED) << 16,
                      LPARAM(box.Handle()));
            break;
        }
        case standin::DialogAction::PressButton:
            procedure(dialog.Handle(), WM_COMMAND, WPARAM(action.control) | WPARAM(BN_CLICKED) << 16,
                      LPARAM(dialog.Control(action.control).Handle()));
            break;
        case standin::DialogAction::CloseBox: procedure(dialog.Handle(), WM_CLOSE, 0, 0); break;
        }
    }
    if (!dialog.ended)
        procedure(dialog.Handle(), WM_CLOSE, 0, 0);

    standin::DialogRecord& record = desktop.dialogs[dialog.record];
    for (auto& [id, control] : dialog.controls)
        record.checkboxes[id] = control.checked;
    record.result = dialog.ended ? dialog.result : -1;
    return record.result;
}

// The host's main window, owner of its dialogs.
Window mainWindow;

HWND GetActiveWindow()
{
    return mainWindow.Handle();
}

HWND GetParent(HWND window)
{
    Window* found = Find(window);
    if (!found)
        return nullptr;
    return found->dialog ? found->dialog->Handle() : found->owner;
}

HWND GetDlgItem(HWND dialog, int id)
{
    Window* found = Find(dialog);
    return found && !found->dialog ? found->Control(id).Handle() : nullptr;
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM)
{
    Window* control = Find(window);
    if (!control || !control->dialog)
        return 0;
    if (message == BM_GETCHECK)
        return control->checked ? BST_CHECKED : BST_UNCHECKED;
    if (message == BM_SETCHECK)
        control->checked = wParam == BST_CHECKED;
    return 0;
}

BOOL EndDialog(HWND dialog, INT_PTR result)
{
    Window* found = Find(dialog);
    if (!found || found->dialog)
        return FALSE;
    found->ended = true;
    found->result = result;
    return TRUE;
}

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    standin::Desktop& desktop = standin::TheDesktop();
    desktop.messageBoxes.push_back({owner, text ? text : "", caption ? caption : "", type});
    if (desktop.messageBoxSink)
        desktop.messageBoxSink(desktop.messageBoxes.back());
    return IDOK;
}

// The host's utility, here for the stand-in's dialogs.
void CenterWindow(HWND window, HWND parent)
{
    Window* found = Find(window);
    std::vector<standin::DialogRecord>& dialogs = standin::TheDesktop().dialogs;
    if (found && !found->dialog && found->record < dialogs.size()) {
        dialogs[found->record].centred = true;
        dialogs[found->record].centredOver = parent;
    }
}
