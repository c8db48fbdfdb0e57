#pragma once

// The few Win32 types and calls the plug-in uses, for building and running it off Windows.
// The stand-in host implements the calls.

#include <stddef.h>
#include <stdint.h>

typedef int BOOL;
typedef uint32_t DWORD; // 32 bits, as on Windows
typedef unsigned int UINT;
typedef uint32_t ULONG;
typedef void* LPVOID;
typedef void* HANDLE;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t INT_PTR;
typedef intptr_t LRESULT;
typedef const char* LPCSTR;
typedef char* LPSTR;
typedef struct HWND__* HWND;
typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;

#define WINAPI
#define CALLBACK
typedef INT_PTR (*DLGPROC)(HWND, UINT, WPARAM, LPARAM);

#define LOWORD(value) (static_cast<unsigned short>(static_cast<uintptr_t>(value) & 0xFFFF))
#define HIWORD(value) (static_cast<unsigned short>((static_cast<uintptr_t>(value) >> 16) & 0xFFFF))
#define MAKEINTRESOURCEA(id) (reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(static_cast<unsigned short>(id))))

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define WM_CLOSE 0x0010
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define BM_GETCHECK 0x00F0
#define BM_SETCHECK 0x00F1
#define BST_UNCHECKED 0
#define BST_CHECKED 1
#define BN_CLICKED 0
#define MB_OK 0x0000
#define MB_ICONWARNING 0x0030
#define MB_ICONINFORMATION 0x0040
#define IDOK 1
#define IDCANCEL 2

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#include <stdarg.h>

// The C runtime's bounded formatting, as the Windows runtime has it.
int vsprintf_s(char* buffer, size_t size, const char* format, va_list arguments);

BOOL DisableThreadLibraryCalls(HMODULE module);
int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int bufferSize);
INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND parent, DLGPROC procedure, LPARAM initParam);
HWND GetActiveWindow();
HWND GetParent(HWND window);
HWND GetDlgItem(HWND dialog, int id);
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL EndDialog(HWND dialog, INT_PTR result);
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
