# Cross build for 64-bit Windows (x64) with MinGW-w64; tests run under
# 64-bit Wine, Debian's wine64 loader (it has no command of its own in PATH).
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(VANTREL_MINGW_PREFIX x86_64-w64-mingw32)
set(VANTREL_WINE_NAMES wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
