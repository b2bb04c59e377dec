# Cross build for 32-bit Windows (x86) with MinGW-w64; tests run under
# 32-bit Wine.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(VANTREL_MINGW_PREFIX i686-w64-mingw32)
set(VANTREL_WINE_NAMES wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
