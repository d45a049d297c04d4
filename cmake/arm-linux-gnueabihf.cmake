# Cross-building for 32-bit ARM with hardware floating point (armhf), a
# 32-bit little-endian host whose char is unsigned, with Debian's cross
# compiler (package g++-arm-linux-gnueabihf). Tests run under qemu-user
# (package qemu-user), which finds the target's libraries in the sysroot.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(TAGBATCH_CROSS_PREFIX arm-linux-gnueabihf)
set(TAGBATCH_SYSROOT /usr/${TAGBATCH_CROSS_PREFIX})
set(CMAKE_C_COMPILER ${TAGBATCH_CROSS_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${TAGBATCH_CROSS_PREFIX}-g++)

set(CMAKE_FIND_ROOT_PATH ${TAGBATCH_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Runs the tests, and the program they start, under emulation.
find_program(TAGBATCH_QEMU qemu-arm)
if(TAGBATCH_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TAGBATCH_QEMU} -L ${TAGBATCH_SYSROOT})
endif()
