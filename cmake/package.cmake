# Installing the tool and packaging it for Debian. The tool carries the stub,
# so it is the one file installed:
#   cmake --install build --prefix /usr/local     -> /usr/local/bin/qornsfx
#   cmake --build build --target package          -> build/qornsfx_<version>_<arch>.deb
# The build also gathers what it ships in ${QORN_DIST_DIR} (build/dist):
# qornsfx, qornsfx.exe and qornsfx-stub.exe.
install(TARGETS qornsfx RUNTIME DESTINATION bin)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qornsfx)
set(CPACK_PACKAGE_VENDOR "Qorn SFX")
set(CPACK_PACKAGE_CONTACT "Qorn SFX maintainers <maintainers@qorn-sfx.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "builds, lists, tests and extracts self-extracting LHA archives for Windows")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)

set(QORN_DIST_DIR ${CMAKE_BINARY_DIR}/dist)
set(QORN_DIST_FILES $<TARGET_FILE:qornsfx>)
if(TARGET stub)
  list(APPEND QORN_DIST_FILES ${QORN_STUB})
endif()
if(TARGET tool_mingw64)
  list(APPEND QORN_DIST_FILES ${QORN_WINDOWS_TOOL_EXE})
endif()
add_custom_target(dist ALL
  COMMAND ${CMAKE_COMMAND} -E make_directory ${QORN_DIST_DIR}
  COMMAND ${CMAKE_COMMAND} -E copy_if_different ${QORN_DIST_FILES} ${QORN_DIST_DIR}
  COMMENT "Gathering the tool and the stub in ${QORN_DIST_DIR}"
  VERBATIM)
add_dependencies(dist qornsfx)
if(TARGET stub)
  add_dependencies(dist stub)
endif()
if(TARGET tool_mingw64)
  add_dependencies(dist tool_mingw64)
endif()
