# Cross-building for 64-bit Windows with Debian's MinGW-w64 compiler
# (package g++-mingw-w64-x86-64); tests run under Wine's 64-bit loader.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TAGBATCH_MINGW_PREFIX x86_64-w64-mingw32)
set(TAGBATCH_WINE_NAMES wine64 wine)
include(${CMAKE_CURRENT_LIST_DIR}/windows-cross.cmake)
