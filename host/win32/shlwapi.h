#pragma once

#include <windows.h>

// True when a file or a folder of that name exists. Windows paths: '\' is taken as '/'.
BOOL PathFileExistsA(const char* path);
