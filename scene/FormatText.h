#pragma once

// printf-style formatting into a fixed buffer, through the C runtime's bounded vsprintf_s:
// text that does not fit leaves the buffer empty rather than cut short.

#include <windows.h>

#include <cstdarg>
#include <cstddef>
#include <cstdio>

template <std::size_t size>
void FormatText(char (&buffer)[size], const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    vsprintf_s(buffer, size, format, arguments);
    va_end(arguments);
}
