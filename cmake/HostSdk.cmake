# The build for 3ds Max itself: -DBRENNIC_HOST_SDK=<the 3ds Max 2010 SDK's maxsdk folder>, on
# Windows with MSVC. The SDK's headers take the place of plugin/HostApi.h's declarations and
# its import libraries the place of the stand-in host; model/, scene/ and plugin/ build as
# they are. README.md ("Building for 3ds Max") says what it expects and why.

set(BRENNIC_HOST_SDK_HEADERS max.h istdplug.h iparamb2.h impapi.h stdmat.h meshdlib.h)
set(BRENNIC_HOST_SDK_LIBRARIES core geom mesh maxutil paramblk2)

# Fails the configuration, naming every file the folder lacks. Runs before the compiler is
# looked for, so that a wrong folder is the first and only thing said.
function(brennic_check_host_sdk folder)
    set(missing "")
    foreach(file IN LISTS BRENNIC_HOST_SDK_HEADERS BRENNIC_HOST_SDK_LIBRARIES)
        if(file MATCHES "\\.h$")
            set(file "include/${file}")
        else()
            set(file "lib/${file}.lib")
        endif()
        if(NOT EXISTS "${folder}/${file}")
            string(APPEND missing "\n  ${file}") # indented: CMake prints it as it is
        endif()
    endforeach()
    if(missing)
        message(FATAL_ERROR "BRENNIC_HOST_SDK=${folder} is not a 3ds Max SDK folder, it lacks:${missing}")
    endif()
endfunction()

# The host as the plug-in's targets link it: the SDK's headers and import libraries.
function(brennic_add_host_sdk folder)
    if(NOT (WIN32 AND MSVC))
        message(FATAL_ERROR "BRENNIC_HOST_SDK builds the plug-in for 3ds Max: it needs Windows and MSVC")
    endif()
    add_library(brennic_host INTERFACE)
    target_compile_definitions(brennic_host INTERFACE BRENNIC_HOST_SDK)
    target_include_directories(brennic_host INTERFACE "${folder}/include" "${PROJECT_SOURCE_DIR}/plugin")
    foreach(library IN LISTS BRENNIC_HOST_SDK_LIBRARIES)
        target_link_libraries(brennic_host INTERFACE "${folder}/lib/${library}.lib")
    endforeach()

    if(MSVC_VERSION EQUAL 1500)
        # The SDK's own compiler: the shared C runtime, a side-by-side assembly the module's
        # manifest names.
        target_compile_definitions(brennic_host INTERFACE BRENNIC_VC90_CRT)
    else()
        message(WARNING "3ds Max 2010 supports plug-ins built with Visual C++ 9.0 SP1 only; "
                        "with MSVC ${MSVC_VERSION} the module links its C runtime statically")
        set(CMAKE_MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>" PARENT_SCOPE)
    endif()
endfunction()
