// The importer: its descriptions, the settings dialog, and the import itself from the host's
// call to the summary box.
#include "FormatText.h"
#include "ModelHolder.h"
#include "Plugin.h"

#include "resource.h"

#include <string>

bool includeLodsSetting = false;

namespace {

// The polygon count cannot wrap: the loader's bounds (a main file under 4 GiB, referenced
// files under 512 MiB together) keep the faces of one import below 2^31.
const char summaryFormat[] = "Imported OK!\nImported objects : %02d\nTotal polygons count : %d\n"
                             "===============================\n"
                             "Brennic Mesh Import, with thanks to everyone who tried it and said what broke";
// A model that was cut short says so, with the reason (the loader's reasons are short, fixed texts).
const char partSummaryFormat[] = "Imported only in part!\nImported objects : %02d\nTotal polygons count : %d\n"
                                 "Not imported whole: %s.\n"
                                 "===============================\n"
                                 "Brennic Mesh Import, with thanks to everyone who tried it and said what broke";
const char summaryCaption[] = "Brennic Model Importer (by Tamsel)";

} // namespace

const MCHAR* MeshImport::Ext(int n)
{
    switch (n) {
    case 0: return "model";
    case 1: return "mesh";
    default: return "";
    }
}

INT_PTR CALLBACK ImportSettingsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        CenterWindow(dialog, GetParent(dialog));
        // The box opens showing the setting it will apply: the last import's choice.
        SendMessageA(GetDlgItem(dialog, IDC_INCLUDE_LODS), BM_SETCHECK,
                     includeLodsSetting ? BST_CHECKED : BST_UNCHECKED, 0);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_INCLUDE_LODS: // an automatic checkbox: it has toggled already
            includeLodsSetting = SendMessageA(GetDlgItem(dialog, IDC_INCLUDE_LODS), BM_GETCHECK, 0, 0) != 0;
            return FALSE;
        case IDC_LETS_GO: EndDialog(dialog, 1); return TRUE;
        default: return FALSE;
        }
    case WM_CLOSE: EndDialog(dialog, 0); return TRUE;
    default: return FALSE;
    }
}

int MeshImport::DoImport(const MCHAR* name, ImpInterface* ii, Interface*, BOOL)
{
    // No exception may reach the host: a failed allocation fails the import, and the holder
    // releases the model as the stack unwinds.
    try {
        // The dialog and the summary are shown even when the host asks for no prompts.
        const INT_PTR choice =
            DialogBoxParamA(ModuleInstance(), MAKEINTRESOURCEA(IDD_IMPORT_SETTINGS), GetActiveWindow(),
                            ImportSettingsDlgProc, reinterpret_cast<LPARAM>(this));
        if (choice == 0)
            return 1; // closed: nothing to do, and nothing went wrong
        if (choice != 1 || !name || !ii)
            return 0; // the dialog could not be shown, so the user did not choose to import

        ModelHolder holder;
        if (!holder.Load(std::string(name), includeLodsSetting))
            return 0;
        if (!holder.BuildScene(ii))
            return 0;
        ii->RedrawViews();

        const int objects = holder.GetMeshCount();
        int polygons = 0;
        for (int k = 0; k < objects; ++k)
            polygons += int(holder.GetFaceCount(k));
        char summary[512] = {};
        const std::string& shortfall = holder.Shortfall();
        if (shortfall.empty()) {
            FormatText(summary, summaryFormat, objects, polygons);
            MessageBoxA(NULL, summary, summaryCaption, MB_OK | MB_ICONINFORMATION);
        } else {
            FormatText(summary, partSummaryFormat, objects, polygons, shortfall.c_str());
            MessageBoxA(NULL, summary, summaryCaption, MB_OK | MB_ICONWARNING);
        }
        return 1;
    } catch (...) {
        return 0;
    }
}
