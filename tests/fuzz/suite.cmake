# Fuzz targets. Each one is a LLVMFuzzerTestOneInput in <name>_fuzz.cpp.
#
# Every build replays the saved inputs (corpus/<name> and crashes/<name>)
# through a small main() as the test fuzz.<name>; the sanitizer build does
# the same under ASan and UBSan. With QORN_FUZZ=ON and clang the targets
# are real libFuzzer programs instead (fuzz_<name>, all under the target
# "fuzzers"); scripts/fuzz-smoke.sh runs them.
set(QORN_FUZZ_DIR ${CMAKE_CURRENT_LIST_DIR})
set(QORN_FUZZ_TARGETS settings entry_header decode_member entry_path whole_run)
if(TARGET qorn_encode)
  list(APPEND QORN_FUZZ_TARGETS roundtrip stub_resources)
endif()

if(QORN_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(WARNING "QORN_FUZZ needs clang: the fuzz targets are left out")
    return()
  endif()
  add_custom_target(fuzzers)
endif()

foreach(name ${QORN_FUZZ_TARGETS})
  if(QORN_FUZZ)
    set(program fuzz_${name})
    add_executable(${program} ${QORN_FUZZ_DIR}/${name}_fuzz.cpp)
    target_link_options(${program} PRIVATE -fsanitize=fuzzer)
    add_dependencies(fuzzers ${program})
  else()
    set(program fuzz_replay_${name})
    add_executable(${program} ${QORN_FUZZ_DIR}/${name}_fuzz.cpp ${QORN_FUZZ_DIR}/replay_main.cpp)
    add_test(NAME fuzz.${name}
      COMMAND ${program} ${QORN_FUZZ_DIR}/corpus/${name} ${QORN_FUZZ_DIR}/crashes/${name})
    set_tests_properties(fuzz.${name} PROPERTIES TIMEOUT 300)
  endif()
  target_include_directories(${program} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${program} PRIVATE qorn_core)
  if(name STREQUAL "roundtrip" OR name STREQUAL "stub_resources")
    target_link_libraries(${program} PRIVATE qorn_encode)
  endif()
endforeach()
