# End-to-end tests: self-extracting files run under Wine on a virtual
# display. They need the stub (cmake/stub.cmake), wine, Xvfb and python3; the
# cases run one at a time, against one prefix made fresh by the setup.
# The stub itself: size, mark, checksum, imports. Needs no Wine.
find_program(QORN_MINGW_OBJDUMP i686-w64-mingw32-objdump)
if(TARGET stub AND QORN_MINGW_OBJDUMP)
  add_test(NAME stub.layout
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/check_stub.sh ${QORN_STUB} ${QORN_MINGW_OBJDUMP})
  add_test(NAME stub.run_layout
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/check_stub.sh ${QORN_RUN_STUB} ${QORN_MINGW_OBJDUMP})
endif()
# The x86_64 test build, where the end-to-end tests run it, meets the same checks.
find_program(QORN_MINGW64_OBJDUMP x86_64-w64-mingw32-objdump)
if(TARGET stub64 AND QORN_MINGW64_OBJDUMP)
  add_test(NAME stub64.layout
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/check_stub.sh ${QORN_E2E_STUB} ${QORN_MINGW64_OBJDUMP})
  add_test(NAME stub64.run_layout
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/check_stub.sh ${QORN_E2E_RUN_STUB} ${QORN_MINGW64_OBJDUMP})
endif()

# The 64-bit path calls Wine's 64-bit loader itself: the `wine` wrapper
# takes the 32-bit one whenever wine32 is installed, even where it cannot run.
if(QORN_E2E_ARCH STREQUAL x86_64)
  find_program(QORN_WINE64 wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
  set(QORN_WINE ${QORN_WINE64})
  set(QORN_WINE_ARCH win64)
else()
  find_program(QORN_WINE32 wine)
  set(QORN_WINE ${QORN_WINE32})
  set(QORN_WINE_ARCH win32)
endif()
find_program(QORN_XVFB Xvfb)
find_program(QORN_PYTHON python3)
if(NOT TARGET stub OR NOT QORN_E2E_STUB OR NOT QORN_WINE OR NOT QORN_XVFB OR NOT QORN_PYTHON)
  message(STATUS "End-to-end tests under Wine are off (need the stub, wine, Xvfb, python3)")
  file(WRITE ${CMAKE_BINARY_DIR}/e2e-kind.txt "e2e: off (need the stub, wine, Xvfb, python3)\n")
  return()
endif()

set(QORN_E2E_ENV
  QORN_E2E_DIR=${CMAKE_BINARY_DIR}/e2e
  QORN_TOOL=$<TARGET_FILE:qornsfx>
  QORN_PROBE=${QORN_E2E_PROBE}
  QORN_PATHS=${QORN_E2E_PATHS}
  QORN_E2E_STUB=${QORN_E2E_STUB}
  QORN_E2E_RUN_STUB=${QORN_E2E_RUN_STUB}
  QORN_SETUP_PROGRAM=${QORN_E2E_SETUP}
  QORN_WINE=${QORN_WINE}
  QORN_WINE_ARCH=${QORN_WINE_ARCH}
  QORN_SOURCE=${CMAKE_SOURCE_DIR}
  QORN_STUB_I686=${QORN_STUB})
set(QORN_E2E_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/e2e.sh)

add_test(NAME e2e.setup COMMAND ${QORN_E2E_SCRIPT} setup)
set_tests_properties(e2e.setup PROPERTIES FIXTURES_SETUP wine TIMEOUT 180)
add_test(NAME e2e.cleanup COMMAND ${QORN_E2E_SCRIPT} cleanup)
set_tests_properties(e2e.cleanup PROPERTIES FIXTURES_CLEANUP wine)

foreach(case no_settings settings_ok cancel relative_folder damaged unknown_header abort
             close_during_run cannot_create settings_cut_short from_folder folder_twice silent
             silent_destination destination_in_dialog silent_damaged silent_cannot_create usage
             arguments_passed_over privilege_shortcuts dpi_keyboard
             english
             icon_version signed names_windows_refuses long_path_forms deep_tree deep_damaged
             path_refused make_refuses_damage make_agrees_with_stub header_levels
             installer)
  add_test(NAME e2e.${case} COMMAND ${QORN_E2E_SCRIPT} ${case})
  set_tests_properties(e2e.${case} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 360
    LABELS e2e)
  list(APPEND QORN_E2E_TESTS e2e.${case})
endforeach()
# qornsfx.exe, where it was built (cmake/windows-tool.cmake).
if(TARGET tool_mingw64)
  add_test(NAME e2e.windows_tool COMMAND ${QORN_E2E_SCRIPT} windows_tool)
  set_tests_properties(e2e.windows_tool PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 180 LABELS e2e)
  list(APPEND QORN_E2E_TESTS e2e.windows_tool)
  # The file that ships (stripped, in build/dist), not the build tree's.
  list(APPEND QORN_E2E_ENV QORN_WINDOWS_TOOL=${QORN_DIST_DIR}/qornsfx.exe
    QORN_VERSION=${PROJECT_VERSION})
endif()
set_tests_properties(e2e.setup e2e.cleanup ${QORN_E2E_TESTS} PROPERTIES
  RESOURCE_LOCK wine ENVIRONMENT "${QORN_E2E_ENV}")
