# Cross-building for 64-bit IBM Z, a big-endian host, with Debian's cross
# compiler (package g++-s390x-linux-gnu); tests run under qemu-user.
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(TAGBATCH_CROSS_PREFIX s390x-linux-gnu)
set(TAGBATCH_QEMU_NAME qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
