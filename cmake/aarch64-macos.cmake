# Cross-building for macOS on Apple silicon (arm64), with Zig's clang.
set(CMAKE_SYSTEM_PROCESSOR arm64)
set(TAGBATCH_ZIG_TARGET aarch64-macos)
include(${CMAKE_CURRENT_LIST_DIR}/macos-zig.cmake)
