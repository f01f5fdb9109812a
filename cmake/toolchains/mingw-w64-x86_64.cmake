# Cross-build for 64-bit Windows with Debian's MinGW-w64 compilers
# (packages g++-mingw-w64-x86-64-posix, mingw-w64-tools). The -posix variants
# are used because GoogleTest needs their thread support.
#
# Test programs run under Wine through the emulator wrapper beside this
# project's scripts; it needs Debian's wine and wine64 packages.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(AM_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${AM_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${AM_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${AM_MINGW_PREFIX}-windres)
set(CMAKE_AR ${AM_MINGW_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${AM_MINGW_PREFIX}-ranlib CACHE FILEPATH "")
set(CMAKE_NM ${AM_MINGW_PREFIX}-nm CACHE FILEPATH "")
set(CMAKE_OBJDUMP ${AM_MINGW_PREFIX}-objdump CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${AM_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program of the build runs under Wine (CTest, test discovery).
get_filename_component(AM_SOURCE_ROOT ${CMAKE_CURRENT_LIST_DIR}/../.. ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${AM_SOURCE_ROOT}/scripts/wine-run)
