# Cross-compiling the stub's sources for 64-bit Windows. This build never
# ships: it lets the end-to-end tests run on hosts whose kernel executes no
# 32-bit programs, where only Wine's 64-bit half starts.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QORN_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
