# Cross-building for 32-bit ARM with hardware floating point (armhf), a
# 32-bit little-endian host whose char is unsigned, with Debian's cross
# compiler (package g++-arm-linux-gnueabihf); tests run under qemu-user.
set(CMAKE_SYSTEM_PROCESSOR arm)
set(TAGBATCH_CROSS_PREFIX arm-linux-gnueabihf)
set(TAGBATCH_QEMU_NAME qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
