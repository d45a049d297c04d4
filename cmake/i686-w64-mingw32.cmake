# Cross-building for 32-bit Windows with Debian's MinGW-w64 compiler
# (package g++-mingw-w64-i686); tests run under Wine, which needs its 32-bit
# part for them (package wine32, of the i386 architecture).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TAGBATCH_MINGW_PREFIX i686-w64-mingw32)
set(TAGBATCH_WINE_NAMES wine)
include(${CMAKE_CURRENT_LIST_DIR}/windows-cross.cmake)
