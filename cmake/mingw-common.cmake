# Shared part of the MinGW-w64 tool-chain files: QORN_MINGW_PREFIX names the
# compilers (i686-w64-mingw32 or x86_64-w64-mingw32).
#
# The posix-thread compilers are used: they give std::mutex to GoogleTest
# built for Windows and cost the stub nothing.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${QORN_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QORN_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QORN_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QORN_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Every object of the stub, the core included, is built small, one section
# per function so that the linker can drop what is never called. Not one
# section per variable: this GCC then puts zero-filled arrays into .data
# instead of .bss, and the decoder tables would cost 30 KB of file. Unwind
# tables and type information would only serve exceptions and dynamic_cast,
# which the stub does not use.
set(CMAKE_CXX_FLAGS_INIT "-ffunction-sections -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables")
set(CMAKE_CXX_FLAGS_MINSIZEREL_INIT "-Os -DNDEBUG")
if(NOT CMAKE_BUILD_TYPE)
  set(CMAKE_BUILD_TYPE MinSizeRel CACHE STRING "Build type" FORCE)
endif()
