# What the Linux cross builds share: included by their toolchain files once
# they have set CMAKE_SYSTEM_PROCESSOR, TAGBATCH_CROSS_PREFIX (the compilers'
# prefix, from Debian's g++-PREFIX package) and TAGBATCH_QEMU_NAME (the
# emulator, from Debian's qemu-user package). Tests run under qemu-user,
# which finds the target's libraries in the sysroot.
set(CMAKE_SYSTEM_NAME Linux)

set(TAGBATCH_SYSROOT /usr/${TAGBATCH_CROSS_PREFIX})
set(CMAKE_C_COMPILER ${TAGBATCH_CROSS_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${TAGBATCH_CROSS_PREFIX}-g++)

set(CMAKE_FIND_ROOT_PATH ${TAGBATCH_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Runs the tests, and the program they start, under emulation.
find_program(TAGBATCH_QEMU ${TAGBATCH_QEMU_NAME})
if(TAGBATCH_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TAGBATCH_QEMU} -L ${TAGBATCH_SYSROOT})
endif()
