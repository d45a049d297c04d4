# Cross-building for macOS on Intel processors (x86-64), with Zig's clang.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TAGBATCH_ZIG_TARGET x86_64-macos)
include(${CMAKE_CURRENT_LIST_DIR}/macos-zig.cmake)
