# Installing the tool and packaging it for Debian. The tool carries the stub,
# so it is the one program installed, with its manual page and, under
# share/doc, the copyright file and the changelog:
#   cmake --install build --prefix /usr/local     -> /usr/local/bin/qornsfx
#   cmake --build build --target package          -> build/qornsfx_<version>_<arch>.deb
# The build also gathers what it ships in ${QORN_DIST_DIR} (build/dist):
# qornsfx and qornsfx.exe stripped, their debug information beside them in
# build/dist-debug, and the finished stubs qornsfx-stub.exe and qornsfx-run-stub.exe.
install(TARGETS qornsfx RUNTIME DESTINATION bin)

set(QORN_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging/deb)
set(QORN_DOC_DIR ${CMAKE_BINARY_DIR}/doc)

# The changelog's newest entry must be this version's.
file(STRINGS ${QORN_PACKAGING_DIR}/changelog QORN_CHANGELOG_TOP LIMIT_COUNT 1)
if(NOT QORN_CHANGELOG_TOP MATCHES "^qornsfx \\(${PROJECT_VERSION}\\) ")
  message(WARNING "packaging/deb/changelog has no entry for ${PROJECT_VERSION} at the top")
endif()

# Compressed without a name or time stamp in the gzip header (-n), as Debian
# asks and so that the package's contents do not depend on the build's time.
find_program(QORN_GZIP gzip)
find_program(QORN_HELP2MAN help2man)
set(QORN_DOC_FILES ${QORN_DOC_DIR}/changelog.gz)
add_custom_command(OUTPUT ${QORN_DOC_DIR}/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${QORN_DOC_DIR}
  COMMAND ${QORN_GZIP} -9nc ${QORN_PACKAGING_DIR}/changelog > ${QORN_DOC_DIR}/changelog.gz
  DEPENDS ${QORN_PACKAGING_DIR}/changelog
  VERBATIM)
install(FILES ${QORN_PACKAGING_DIR}/copyright ${QORN_DOC_DIR}/changelog.gz
  DESTINATION share/doc/qornsfx)
# The manual page is made from the tool's own --help-all (every command and
# option) and --version.
if(QORN_HELP2MAN)
  add_custom_command(OUTPUT ${QORN_DOC_DIR}/qornsfx.1.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QORN_DOC_DIR}
    COMMAND ${QORN_HELP2MAN} --no-info --section=1 --help-option=--help-all
      "--name=build, list, test and extract self-extracting LHA archives for Windows"
      --output=${QORN_DOC_DIR}/qornsfx.1 $<TARGET_FILE:qornsfx>
    COMMAND ${QORN_GZIP} -9nf ${QORN_DOC_DIR}/qornsfx.1
    DEPENDS qornsfx
    COMMENT "Making the manual page from qornsfx --help-all"
    VERBATIM)
  list(APPEND QORN_DOC_FILES ${QORN_DOC_DIR}/qornsfx.1.gz)
  install(FILES ${QORN_DOC_DIR}/qornsfx.1.gz DESTINATION share/man/man1)
else()
  message(STATUS "help2man not found: no manual page")
endif()
add_custom_target(docs ALL DEPENDS ${QORN_DOC_FILES})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qornsfx)
set(CPACK_PACKAGE_VENDOR "Qorn SFX")
set(CPACK_PACKAGE_CONTACT "Qorn SFX maintainers <maintainers@qorn-sfx.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "builds, lists, tests and extracts self-extracting LHA archives for Windows")
# The synopsis is the summary above; this is the long description after it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "qornsfx packs a folder, or takes an LHA archive, and writes a self-extracting
file for Windows: a small 32-bit program that asks where to extract, makes
shell shortcuts and opens a file, followed by the archive. It checks every
member the way the Windows program will before it writes anything, and it
lists, tests and extracts such files on Linux. The Windows program is built
into qornsfx.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)

# What ships: the programs stripped (debug information in dist-debug), and
# the finished stub as it is.
set(QORN_DIST_DIR ${CMAKE_BINARY_DIR}/dist)
set(QORN_DIST_DEBUG_DIR ${CMAKE_BINARY_DIR}/dist-debug)
set(QORN_DIST_OUTPUTS ${QORN_DIST_DIR}/qornsfx)
add_custom_command(OUTPUT ${QORN_DIST_DIR}/qornsfx
  COMMAND ${CMAKE_COMMAND} -DOBJCOPY=${CMAKE_OBJCOPY} -DIN=$<TARGET_FILE:qornsfx>
    -DOUT=${QORN_DIST_DIR}/qornsfx -DDEBUG=${QORN_DIST_DEBUG_DIR}/qornsfx.debug
    -P ${CMAKE_SOURCE_DIR}/cmake/strip-file.cmake
  DEPENDS qornsfx ${CMAKE_SOURCE_DIR}/cmake/strip-file.cmake
  COMMENT "Stripping qornsfx into ${QORN_DIST_DIR}"
  VERBATIM)
if(TARGET stub)
  add_custom_command(OUTPUT ${QORN_DIST_DIR}/qornsfx-stub.exe ${QORN_DIST_DIR}/qornsfx-run-stub.exe
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QORN_DIST_DIR}
    COMMAND ${CMAKE_COMMAND} -E copy ${QORN_STUB} ${QORN_DIST_DIR}/qornsfx-stub.exe
    COMMAND ${CMAKE_COMMAND} -E copy ${QORN_RUN_STUB} ${QORN_DIST_DIR}/qornsfx-run-stub.exe
    DEPENDS stub ${QORN_STUB} ${QORN_RUN_STUB}
    VERBATIM)
  list(APPEND QORN_DIST_OUTPUTS ${QORN_DIST_DIR}/qornsfx-stub.exe
    ${QORN_DIST_DIR}/qornsfx-run-stub.exe)
endif()
if(TARGET tool_mingw64)
  find_program(QORN_MINGW64_OBJCOPY x86_64-w64-mingw32-objcopy)
  add_custom_command(OUTPUT ${QORN_DIST_DIR}/qornsfx.exe
    COMMAND ${CMAKE_COMMAND} -DOBJCOPY=${QORN_MINGW64_OBJCOPY} -DIN=${QORN_WINDOWS_TOOL_EXE}
      -DOUT=${QORN_DIST_DIR}/qornsfx.exe -DDEBUG=${QORN_DIST_DEBUG_DIR}/qornsfx.exe.debug
      -P ${CMAKE_SOURCE_DIR}/cmake/strip-file.cmake
    DEPENDS tool_mingw64 ${QORN_WINDOWS_TOOL_EXE} ${CMAKE_SOURCE_DIR}/cmake/strip-file.cmake
    COMMENT "Stripping qornsfx.exe into ${QORN_DIST_DIR}"
    VERBATIM)
  list(APPEND QORN_DIST_OUTPUTS ${QORN_DIST_DIR}/qornsfx.exe)
endif()
add_custom_target(dist ALL DEPENDS ${QORN_DIST_OUTPUTS})
