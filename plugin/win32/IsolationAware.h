#pragma once

// DialogBoxParamA in its isolation-aware form, which mingw-w64's headers lack: the dialog is
// shown inside the module's own activation context, made from its manifest (resource 2), and
// a context that cannot be made or activated returns -1 without showing anything. Included
// ahead of every source of the Windows module, as ISOLATION_AWARE_ENABLED does with the
// platform SDK's headers.

#include <windows.h>

inline INT_PTR IsolationAwareDialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND parent, DLGPROC procedure,
                                             LPARAM initParam)
{
    HMODULE self = NULL;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&IsolationAwareDialogBoxParamA), &self))
        return -1;
    ACTCTXA request;
    ZeroMemory(&request, sizeof request);
    request.cbSize = sizeof request;
    request.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.hModule = self;
    request.lpResourceName = MAKEINTRESOURCEA(2);
    HANDLE context = CreateActCtxA(&request);
    if (context == INVALID_HANDLE_VALUE)
        return -1;
    ULONG_PTR cookie = 0;
    if (!ActivateActCtx(context, &cookie)) {
        ReleaseActCtx(context);
        return -1;
    }
    const INT_PTR result = DialogBoxParamA(instance, templateName, parent, procedure, initParam);
    DeactivateActCtx(0, cookie);
    ReleaseActCtx(context);
    return result;
}

#define DialogBoxParamA IsolationAwareDialogBoxParamA
