// The Win32 and C runtime calls the plug-in makes, on POSIX.
#include <shlwapi.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <sys/stat.h>

BOOL PathFileExistsA(const char* path)
{
    if (!path)
        return FALSE;
    std::string posixPath = path;
    std::replace(posixPath.begin(), posixPath.end(), '\\', '/');
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
