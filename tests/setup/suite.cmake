# The set-up script against a fake apt (no root, no network needed).
find_program(QORN_BASH bash)
if(QORN_BASH)
  add_test(NAME setup.install_deps
    COMMAND ${QORN_BASH} ${CMAKE_CURRENT_LIST_DIR}/install_deps_test.sh)
endif()
