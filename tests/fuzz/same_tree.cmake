# Replays the whole_run inputs through both variants (file system in memory
# and on disk) and fails unless every input leaves the same files and folders
# with the same sizes: the layer in memory must not hide what the real one
# would do.
#   cmake -DMEMORY=prog -DDISK=prog -DINPUTS="dir;dir" -DWORK=dir -P same_tree.cmake
foreach(kind MEMORY DISK)
  set(list ${WORK}/whole_run_tree_${kind}.txt)
  file(REMOVE ${list})
  execute_process(COMMAND ${CMAKE_COMMAND} -E env QORN_FUZZ_TREE=${list} ${${kind}} ${INPUTS}
                  RESULT_VARIABLE status OUTPUT_QUIET ERROR_QUIET)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${${kind}} failed: ${status}")
  endif()
endforeach()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}/whole_run_tree_MEMORY.txt
                        ${WORK}/whole_run_tree_DISK.txt RESULT_VARIABLE differ)
if(differ)
  message(FATAL_ERROR "the variants left different trees: diff ${WORK}/whole_run_tree_MEMORY.txt "
                      "${WORK}/whole_run_tree_DISK.txt")
endif()
