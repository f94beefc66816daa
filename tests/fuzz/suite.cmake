# Fuzz targets. Each one is a LLVMFuzzerTestOneInput in <name>_fuzz.cpp.
#
# Every build replays the saved inputs (corpus/<name> and crashes/<name>)
# through a small main() as the test fuzz.<name>; the sanitizer build does
# the same under ASan and UBSan. With QORN_FUZZ=ON and clang the targets
# are real libFuzzer programs instead (fuzz_<name>, all under the target
# "fuzzers"); scripts/fuzz-smoke.sh runs them.
#
# Most targets link qorn_core_memory: the core over the file system in memory
# of platform_memory.cpp, so that an input costs no system call. whole_run_disk
# is whole_run on the real file system (the POSIX layer), replaying the same
# inputs; roundtrip and stub_resources need the encoder, which brings the
# real core with it.
set(QORN_FUZZ_DIR ${CMAKE_CURRENT_LIST_DIR})
set(QORN_FUZZ_TARGETS settings entry_header decode_member entry_path whole_run whole_run_disk
  command_line)
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

set(core_memory_sources ${QORN_CORE_SOURCES})
list(REMOVE_ITEM core_memory_sources platform/platform_posix.cpp)
list(TRANSFORM core_memory_sources PREPEND ${PROJECT_SOURCE_DIR}/)
add_library(qorn_core_memory STATIC ${core_memory_sources} ${QORN_FUZZ_DIR}/platform_memory.cpp)
target_include_directories(qorn_core_memory PUBLIC ${PROJECT_SOURCE_DIR})
target_compile_definitions(qorn_core_memory PUBLIC QORN_FUZZ_MEMORY_FILES=1)
# The same decoder as qorn_core.
if(QORN_WINDOW_DECODER)
  target_compile_definitions(qorn_core_memory PUBLIC QORN_WINDOW_DECODER QORN_CRC_FOLD)
endif()
if(QORN_FUZZ_EDGES_ONLY)
  set_source_files_properties(${QORN_FUZZ_EDGES_ONLY}
    PROPERTIES COMPILE_OPTIONS -fno-sanitize-coverage=trace-cmp)
endif()

foreach(name ${QORN_FUZZ_TARGETS})
  # whole_run_disk: the same source and inputs as whole_run.
  string(REGEX REPLACE "_disk$" "" source ${name})
  if(QORN_FUZZ)
    set(program fuzz_${name})
    add_executable(${program} ${QORN_FUZZ_DIR}/${source}_fuzz.cpp)
    target_link_options(${program} PRIVATE -fsanitize=fuzzer)
    add_dependencies(fuzzers ${program})
  else()
    set(program fuzz_replay_${name})
    add_executable(${program} ${QORN_FUZZ_DIR}/${source}_fuzz.cpp ${QORN_FUZZ_DIR}/replay_main.cpp)
    add_test(NAME fuzz.${name}
      COMMAND ${program} ${QORN_FUZZ_DIR}/corpus/${source} ${QORN_FUZZ_DIR}/crashes/${source})
    set_tests_properties(fuzz.${name} PROPERTIES TIMEOUT 300)
  endif()
  target_include_directories(${program} PRIVATE ${PROJECT_SOURCE_DIR})
  if(name STREQUAL "roundtrip" OR name STREQUAL "stub_resources")
    target_link_libraries(${program} PRIVATE qorn_core qorn_encode)
  elseif(name STREQUAL "whole_run_disk")
    target_link_libraries(${program} PRIVATE qorn_core)
  else()
    target_link_libraries(${program} PRIVATE qorn_core_memory)
  endif()
endforeach()

if(NOT QORN_FUZZ)
  add_test(NAME fuzz.whole_run_same_tree
    COMMAND ${CMAKE_COMMAND} -DMEMORY=$<TARGET_FILE:fuzz_replay_whole_run>
            -DDISK=$<TARGET_FILE:fuzz_replay_whole_run_disk>
            "-DINPUTS=${QORN_FUZZ_DIR}/corpus/whole_run;${QORN_FUZZ_DIR}/crashes/whole_run"
            -DWORK=${CMAKE_CURRENT_BINARY_DIR} -P ${QORN_FUZZ_DIR}/same_tree.cmake)
  set_tests_properties(fuzz.whole_run_same_tree PROPERTIES TIMEOUT 300)
endif()
