# The Windows stub, built by the MinGW-w64 cross compiler in a tree of its
# own beside the native one, then stamped and padded to the payload offset.
# Result: ${QORN_STUB} (<build>/stub/qornsfx-stub.exe); `qornsfx make` finds
# it there by default. Without the cross compiler the native build goes on
# without a stub.
find_program(QORN_MINGW_CXX i686-w64-mingw32-g++-posix)
if(NOT QORN_MINGW_CXX)
  message(STATUS "i686-w64-mingw32-g++-posix not found: the Windows stub is not built")
  return()
endif()

include(ExternalProject)
set(QORN_STUB_TREE ${CMAKE_BINARY_DIR}/stub-mingw)
set(QORN_STUB_DIR ${CMAKE_BINARY_DIR}/stub)
set(QORN_STUB ${QORN_STUB_DIR}/qornsfx-stub.exe)
set(QORN_PROBE ${QORN_STUB_DIR}/qorn-probe.exe)

ExternalProject_Add(stub_mingw
  SOURCE_DIR ${CMAKE_SOURCE_DIR}
  BINARY_DIR ${QORN_STUB_TREE}
  CMAKE_GENERATOR Ninja
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-i686.cmake
    -DCMAKE_BUILD_TYPE=MinSizeRel
  BUILD_COMMAND ${CMAKE_COMMAND} --build ${QORN_STUB_TREE} --target qornsfx-stub qorn-probe
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS ${QORN_STUB_TREE}/app/qornsfx-stub.exe ${QORN_STUB_TREE}/app/qorn-probe.exe
  USES_TERMINAL_BUILD ON)

add_executable(stub_finish ${CMAKE_SOURCE_DIR}/scripts/stub_finish.cpp)

add_custom_command(
  OUTPUT ${QORN_STUB} ${QORN_PROBE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${QORN_STUB_DIR}
  COMMAND stub_finish ${QORN_STUB_TREE}/app/qornsfx-stub.exe ${QORN_STUB}
  COMMAND ${CMAKE_COMMAND} -E copy ${QORN_STUB_TREE}/app/qorn-probe.exe ${QORN_PROBE}
  DEPENDS stub_mingw stub_finish ${QORN_STUB_TREE}/app/qornsfx-stub.exe
    ${QORN_STUB_TREE}/app/qorn-probe.exe
  COMMENT "Stamping and padding the stub to the payload offset"
  VERBATIM)
add_custom_target(stub ALL DEPENDS ${QORN_STUB} ${QORN_PROBE})

# The tool does not wait for the stub (building the tool stays quick); it
# only learns where the stub will be.
if(TARGET qornsfx)
  target_compile_definitions(qornsfx PRIVATE QORN_DEFAULT_STUB="${QORN_STUB}")
endif()
