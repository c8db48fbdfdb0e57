# Cross-compiling the Windows module with Debian's mingw-w64; the toolchain files set `triple`
# and the processor, then include this.
set(CMAKE_SYSTEM_NAME Windows)

# The win32 thread model needs no libwinpthread-1.dll beside the module.
set(CMAKE_C_COMPILER /usr/bin/${triple}-gcc-win32)
set(CMAKE_CXX_COMPILER /usr/bin/${triple}-g++-win32)
set(CMAKE_RC_COMPILER /usr/bin/${triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
