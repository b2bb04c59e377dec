# The body shared by the MinGW-w64 tool chain files mingw-i686.cmake and
# mingw-x86_64.cmake, which set VANTREL_MINGW_PREFIX, CMAKE_SYSTEM_PROCESSOR
# and VANTREL_WINE_NAMES first. Debian's MinGW-w64 with POSIX threads, so
# std::mutex exists for GoogleTest. Programs are linked with the C++ runtime
# statically and run under Wine by ctest.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${VANTREL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VANTREL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VANTREL_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VANTREL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Only system DLLs at run time: libgcc, libstdc++ and winpthread go in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Release programs carry no symbols: the statically linked runtime's debug
# data would more than double the size of Vantrel.exe.
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")

find_program(VANTREL_WINE NAMES ${VANTREL_WINE_NAMES} PATHS /usr/lib/wine REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${VANTREL_WINE})
