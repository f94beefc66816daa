# The Windows stub, built by the MinGW-w64 cross compiler in a tree of its
# own beside the native one, then stamped and padded to the payload offset.
# Result: ${QORN_STUB} (<build>/stub/qornsfx-stub.exe) and the stub of
# installer mode, ${QORN_RUN_STUB} (qornsfx-run-stub.exe, for `make --run`). Without the cross compiler the native build goes on
# without a stub.
find_program(QORN_MINGW_CXX i686-w64-mingw32-g++-posix)
if(NOT QORN_MINGW_CXX)
  message(STATUS "i686-w64-mingw32-g++-posix not found: the Windows stub is not built")
  return()
endif()

include(ExternalProject)
add_executable(stub_finish ${CMAKE_SOURCE_DIR}/scripts/stub_finish.cpp)

# One MinGW-w64 tree: both stubs and the test helpers built with TOOLCHAIN in
# <build>/TREE, the stubs stamped and padded and the helpers copied into
# <build>/OUT. Target NAME builds it all.
function(qorn_stub_tree NAME TOOLCHAIN TREE OUT COMMENT)
  set(tree ${CMAKE_BINARY_DIR}/${TREE})
  set(out ${CMAKE_BINARY_DIR}/${OUT})
  set(built ${tree}/app/qornsfx-stub.exe ${tree}/app/qornsfx-run-stub.exe
    ${tree}/app/qorn-probe.exe ${tree}/app/qorn-paths.exe ${tree}/app/qorn-setup.exe)
  ExternalProject_Add(${NAME}_mingw
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${tree}
    CMAKE_GENERATOR Ninja
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/${TOOLCHAIN}
      -DCMAKE_BUILD_TYPE=MinSizeRel
    BUILD_COMMAND ${CMAKE_COMMAND} --build ${tree}
      --target qornsfx-stub qornsfx-run-stub qorn-probe qorn-paths qorn-setup
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    BUILD_BYPRODUCTS ${built}
    USES_TERMINAL_BUILD ON)
  add_custom_command(
    OUTPUT ${out}/qornsfx-stub.exe ${out}/qornsfx-run-stub.exe ${out}/qorn-probe.exe
      ${out}/qorn-paths.exe ${out}/qorn-setup.exe
    COMMAND ${CMAKE_COMMAND} -E make_directory ${out}
    COMMAND stub_finish ${tree}/app/qornsfx-stub.exe ${out}/qornsfx-stub.exe
    COMMAND stub_finish ${tree}/app/qornsfx-run-stub.exe ${out}/qornsfx-run-stub.exe
    COMMAND ${CMAKE_COMMAND} -E copy ${tree}/app/qorn-probe.exe ${out}/qorn-probe.exe
    COMMAND ${CMAKE_COMMAND} -E copy ${tree}/app/qorn-paths.exe ${out}/qorn-paths.exe
    COMMAND ${CMAKE_COMMAND} -E copy ${tree}/app/qorn-setup.exe ${out}/qorn-setup.exe
    DEPENDS ${NAME}_mingw stub_finish ${built}
    COMMENT "${COMMENT}"
    VERBATIM)
  add_custom_target(${NAME} ALL
    DEPENDS ${out}/qornsfx-stub.exe ${out}/qornsfx-run-stub.exe ${out}/qorn-probe.exe
      ${out}/qorn-paths.exe ${out}/qorn-setup.exe)
endfunction()

set(QORN_STUB_DIR ${CMAKE_BINARY_DIR}/stub)
set(QORN_STUB ${QORN_STUB_DIR}/qornsfx-stub.exe)
set(QORN_RUN_STUB ${QORN_STUB_DIR}/qornsfx-run-stub.exe)
set(QORN_PROBE ${QORN_STUB_DIR}/qorn-probe.exe)
set(QORN_PATHS ${QORN_STUB_DIR}/qorn-paths.exe)
qorn_stub_tree(stub mingw-i686.cmake stub-mingw stub
  "Stamping and padding the stub to the payload offset")

# Which Windows build the end-to-end tests run. The stub that ships is the
# i686 one, and it runs under Wine's 32-bit half; a host whose kernel
# executes no 32-bit programs cannot start that half at all. There the same
# sources are built for x86_64 as a test build (same size limit, padding and
# mark) and run under wine64. QORN_E2E_WIN64=1 in the environment chooses
# the 64-bit path on a host that could run both.
set(QORN_E2E_ARCH i686)
set(QORN_E2E_WHY "this host runs 32-bit programs")
if("$ENV{QORN_E2E_WIN64}" STREQUAL "1")
  set(QORN_E2E_ARCH x86_64)
  set(QORN_E2E_WHY "chosen by QORN_E2E_WIN64=1")
elseif(EXISTS /usr/lib/wine/wineserver64 AND NOT EXISTS /usr/lib/wine/wineserver32)
  # Only 64-bit Wine is installed (scripts/install-deps.sh leaves 32-bit Wine
  # out where the kernel runs no 32-bit programs or it cannot be installed).
  # Which of the two, a tiny i386 program tells.
  set(QORN_E2E_ARCH x86_64)
  execute_process(COMMAND sh ${CMAKE_SOURCE_DIR}/scripts/runs-i386.sh RESULT_VARIABLE QORN_RUNS_I386)
  if(QORN_RUNS_I386 EQUAL 0)
    set(QORN_E2E_WHY "32-bit Wine is not installed, though this host runs 32-bit programs")
  else()
    set(QORN_E2E_WHY "this host runs no 32-bit programs")
  endif()
elseif(EXISTS /usr/lib/wine/wineserver32)
  execute_process(COMMAND /usr/lib/wine/wineserver32 --version
    RESULT_VARIABLE QORN_WINE32_RESULT OUTPUT_QUIET ERROR_VARIABLE QORN_WINE32_ERROR)
  if(NOT QORN_WINE32_RESULT EQUAL 0)
    set(QORN_E2E_ARCH x86_64)
    set(QORN_E2E_WHY "this host runs no 32-bit programs")
  endif()
endif()
if(QORN_E2E_ARCH STREQUAL x86_64)
  message(STATUS "32-bit Wine: ${QORN_E2E_WHY}; the end-to-end tests use the x86_64 build under wine64")
  find_program(QORN_MINGW64_CXX x86_64-w64-mingw32-g++-posix)
  if(NOT QORN_MINGW64_CXX)
    message(STATUS "x86_64-w64-mingw32-g++-posix not found: no stub for the end-to-end tests")
    set(QORN_E2E_ARCH none)
  endif()
else()
  message(STATUS "32-bit Wine: ${QORN_E2E_WHY}; the end-to-end tests use the i686 stub")
endif()

if(QORN_E2E_ARCH STREQUAL x86_64)
  set(QORN_STUB64_DIR ${CMAKE_BINARY_DIR}/stub64)
  set(QORN_E2E_STUB ${QORN_STUB64_DIR}/qornsfx-stub.exe)
  set(QORN_E2E_RUN_STUB ${QORN_STUB64_DIR}/qornsfx-run-stub.exe)
  set(QORN_E2E_PROBE ${QORN_STUB64_DIR}/qorn-probe.exe)
  set(QORN_E2E_PATHS ${QORN_STUB64_DIR}/qorn-paths.exe)
  set(QORN_E2E_SETUP ${QORN_STUB64_DIR}/qorn-setup.exe)
  qorn_stub_tree(stub64 mingw-x86_64.cmake stub-mingw64 stub64
    "Stamping and padding the x86_64 test build of the stub")
  set(QORN_E2E_LINE "e2e: x86_64 build of the stub under wine64 (${QORN_E2E_WHY})")
elseif(QORN_E2E_ARCH STREQUAL i686)
  set(QORN_E2E_STUB ${QORN_STUB})
  set(QORN_E2E_RUN_STUB ${QORN_RUN_STUB})
  set(QORN_E2E_PROBE ${QORN_PROBE})
  set(QORN_E2E_PATHS ${QORN_PATHS})
  set(QORN_E2E_SETUP ${QORN_STUB_DIR}/qorn-setup.exe)
  set(QORN_E2E_LINE "e2e: i686 stub under 32-bit Wine")
else()
  set(QORN_E2E_LINE "e2e: no stub the host can run")
endif()
file(WRITE ${CMAKE_BINARY_DIR}/e2e-kind.txt "${QORN_E2E_LINE}\n")

# The tool carries both finished stubs in a source generated from them, so
# it needs no stub file beside it wherever it is installed.
if(TARGET qornsfx)
  set(QORN_STUB_SOURCE ${QORN_STUB_DIR}/embedded_stub.cpp)
  add_custom_command(
    OUTPUT ${QORN_STUB_SOURCE}
    COMMAND ${CMAKE_COMMAND} -DIN=${QORN_STUB} -DRUN=${QORN_RUN_STUB} -DOUT=${QORN_STUB_SOURCE}
      -P ${CMAKE_SOURCE_DIR}/cmake/embed-stub.cmake
    DEPENDS ${QORN_STUB} ${QORN_RUN_STUB} ${CMAKE_SOURCE_DIR}/cmake/embed-stub.cmake
    COMMENT "Building the stub into the tool"
    VERBATIM)
  add_custom_target(stub_source DEPENDS ${QORN_STUB_SOURCE})
  target_sources(qornsfx PRIVATE ${QORN_STUB_SOURCE})
  add_dependencies(qornsfx stub_source)
  target_compile_definitions(qornsfx PRIVATE QORN_EMBEDDED_STUB=1)
endif()
