# Writes a stripped copy of a program and keeps its debug information in a
# file of its own, named in the copy's debug link:
#   cmake -DOBJCOPY=... -DIN=prog -DOUT=dist/prog -DDEBUG=dist-debug/prog.debug -P strip-file.cmake
get_filename_component(debug_dir ${DEBUG} DIRECTORY)
get_filename_component(out_dir ${OUT} DIRECTORY)
file(MAKE_DIRECTORY ${debug_dir} ${out_dir})
# objcopy writes the time into a Windows image's header unless
# SOURCE_DATE_EPOCH says otherwise: 0, as the link left it.
set(ENV{SOURCE_DATE_EPOCH} 0)
execute_process(COMMAND ${OBJCOPY} --only-keep-debug ${IN} ${DEBUG} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJCOPY} --only-keep-debug ${IN} failed")
endif()
# The link records the debug file's name (not its folder) and checksum.
execute_process(COMMAND ${OBJCOPY} --strip-all --add-gnu-debuglink=${DEBUG} ${IN} ${OUT}.tmp
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJCOPY} --strip-all ${IN} failed")
endif()
file(RENAME ${OUT}.tmp ${OUT})
