# qornsfx.exe: the tool cross-built for 64-bit Windows with the Win32
# platform layer, the finished i686 stub built into it, in a tree of its own
# like the stub's. Result: ${QORN_WINDOWS_TOOL_EXE}.
find_program(QORN_MINGW64_TOOL_CXX x86_64-w64-mingw32-g++-posix)
if(NOT QORN_MINGW64_TOOL_CXX OR NOT TARGET stub)
  message(STATUS "qornsfx.exe is not built (needs x86_64-w64-mingw32-g++-posix and the stub)")
  return()
endif()

include(ExternalProject)
set(QORN_WINDOWS_TOOL_TREE ${CMAKE_BINARY_DIR}/tool-mingw64)
set(QORN_WINDOWS_TOOL_EXE ${QORN_WINDOWS_TOOL_TREE}/tools/qornsfx.exe)
ExternalProject_Add(tool_mingw64
  SOURCE_DIR ${CMAKE_SOURCE_DIR}
  BINARY_DIR ${QORN_WINDOWS_TOOL_TREE}
  CMAKE_GENERATOR Ninja
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-x86_64.cmake
    -DCMAKE_BUILD_TYPE=Release
    -DQORN_WINDOWS_TOOL=ON
    -DQORN_EMBED_STUB=${QORN_STUB}
    -DQORN_EMBED_RUN_STUB=${QORN_RUN_STUB}
  BUILD_COMMAND ${CMAKE_COMMAND} --build ${QORN_WINDOWS_TOOL_TREE} --target qornsfx
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS ${QORN_WINDOWS_TOOL_EXE}
  DEPENDS stub
  USES_TERMINAL_BUILD ON)
