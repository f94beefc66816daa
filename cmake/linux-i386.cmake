# The portable core, the tool and the unit tests built as 32-bit x86 Linux
# programs (gcc -m32, from g++-multilib): the stub that ships is i686, and
# this build runs its code paths (32-bit pointers, sizes and file offsets)
# on a Linux host. GoogleTest is then built from its sources
# (tests/CMakeLists.txt), since the system's library is 64-bit.
#
# Where the kernel runs no 32-bit programs, give
# -DCMAKE_CROSSCOMPILING_EMULATOR=/usr/bin/qemu-i386-static: the tests then
# run the tool through it (scripts/test-i386.sh decides which).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -m32)
