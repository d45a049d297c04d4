# Cross-building for 64-bit ARM (aarch64, arm64), with Debian's cross
# compiler (package g++-aarch64-linux-gnu); tests run under qemu-user.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(TAGBATCH_CROSS_PREFIX aarch64-linux-gnu)
set(TAGBATCH_QEMU_NAME qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
