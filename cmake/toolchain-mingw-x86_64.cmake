# Cross-compiling the Windows module with Debian's mingw-w64 (x86_64).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(triple x86_64-w64-mingw32)

# The win32 thread model needs no libwinpthread-1.dll beside the module.
set(CMAKE_C_COMPILER /usr/bin/${triple}-gcc-win32)
set(CMAKE_CXX_COMPILER /usr/bin/${triple}-g++-win32)
set(CMAKE_RC_COMPILER /usr/bin/${triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
