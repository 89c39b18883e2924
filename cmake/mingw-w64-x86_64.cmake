# Cross build for 64-bit Windows with Debian's MinGW-w64 tool chain, against the static
# libraries that scripts/build-windows leaves in its cache:
#
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# The cache is found through QV_MINGW_PREFIX (a cache variable or the environment), and
# otherwise through the "current" link that scripts/build-windows points at its last build.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QV_MINGW_HOST x86_64-w64-mingw32)

# The posix flavour: the win32 one has no std::thread or std::mutex, which the jobs use.
set(CMAKE_C_COMPILER ${QV_MINGW_HOST}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QV_MINGW_HOST}-g++-posix)
set(CMAKE_RC_COMPILER ${QV_MINGW_HOST}-windres)
set(CMAKE_AR ${QV_MINGW_HOST}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${QV_MINGW_HOST}-gcc-ranlib-posix CACHE FILEPATH "")

if(NOT QV_MINGW_PREFIX)
    if(DEFINED ENV{QV_MINGW_PREFIX})
        set(QV_MINGW_PREFIX "$ENV{QV_MINGW_PREFIX}")
    elseif(DEFINED ENV{XDG_CACHE_HOME})
        set(QV_MINGW_PREFIX "$ENV{XDG_CACHE_HOME}/quorvane-mingw/current")
    else()
        set(QV_MINGW_PREFIX "$ENV{HOME}/.cache/quorvane-mingw/current")
    endif()
endif()
# A link is resolved so that paths printed and stored in the cache name the real version.
get_filename_component(QV_MINGW_PREFIX "${QV_MINGW_PREFIX}" REALPATH)
set(QV_MINGW_PREFIX "${QV_MINGW_PREFIX}" CACHE PATH "Static MinGW-w64 libraries")
# try_compile projects read this file again without the main project's cache.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QV_MINGW_PREFIX)

# Headers and libraries come from the cache and the MinGW-w64 runtime only, never from the
# Linux system; programs (wx-config, pkg-config) are the build machine's.
set(CMAKE_FIND_ROOT_PATH "${QV_MINGW_PREFIX}" /usr/${QV_MINGW_HOST})
set(CMAKE_PREFIX_PATH "${QV_MINGW_PREFIX}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained .exe: the C++ runtime, winpthreads and every library linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(OPENSSL_USE_STATIC_LIBS TRUE)
set(OPENSSL_ROOT_DIR "${QV_MINGW_PREFIX}")
set(ZLIB_USE_STATIC_LIBS TRUE)

# pkg-config answers for the cache only, with the private libraries a static link needs.
set(ENV{PKG_CONFIG_LIBDIR} "${QV_MINGW_PREFIX}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(PKG_CONFIG_ARGN --static CACHE STRING "Arguments pkg-config gets before the modules")

# The cross wxWidgets (wxMSW): its wx-config, not the Linux one on the PATH.
if(EXISTS "${QV_MINGW_PREFIX}/bin/wx-config")
    set(WX_CONFIG "${QV_MINGW_PREFIX}/bin/wx-config" CACHE FILEPATH "wx-config of wxMSW")
    set(wxWidgets_CONFIG_EXECUTABLE "${QV_MINGW_PREFIX}/bin/wx-config"
        CACHE FILEPATH "wx-config of wxMSW")
endif()

# Test programs run under wine where it is installed (Debian's wine64 has no wrapper on PATH).
foreach(wine /usr/bin/wine64 /usr/lib/wine/wine64 /usr/bin/wine)
    if(NOT CMAKE_CROSSCOMPILING_EMULATOR AND EXISTS ${wine})
        set(CMAKE_CROSSCOMPILING_EMULATOR ${wine})
    endif()
endforeach()
