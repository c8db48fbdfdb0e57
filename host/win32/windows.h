#pragma once

// The few Win32 types and calls the plug-in uses, for building and running it off Windows.
// The stand-in host implements the calls.

#include <cstddef>
#include <cstdint>

typedef int BOOL;
typedef std::uint32_t DWORD; // 32 bits, as on Windows
typedef unsigned int UINT;
typedef std::uint32_t ULONG;
typedef void* LPVOID;
typedef void* HANDLE;
typedef std::uintptr_t WPARAM;
typedef std::intptr_t LPARAM;
typedef std::intptr_t INT_PTR;
typedef struct HWND__* HWND;
typedef struct HINSTANCE__* HINSTANCE;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#include <cstdarg>

// The C runtime's bounded formatting, as the Windows runtime has it.
int vsprintf_s(char* buffer, std::size_t size, const char* format, va_list arguments);
