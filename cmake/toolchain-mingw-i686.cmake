# The 32-bit test module: the plug-in against the stand-in host, which 3ds Max cannot load.
set(triple i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
