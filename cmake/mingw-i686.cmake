# Cross-compiling the Windows stub (32-bit, the one that ships) with
# MinGW-w64 on Linux.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QORN_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
