# Cross-building for 64-bit Windows with Debian's MinGW-w64 compiler
# (package g++-mingw-w64-x86-64). Tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TAGBATCH_MINGW_PREFIX x86_64-w64-mingw32)
# The POSIX thread model: its standard library has std::mutex, which
# GoogleTest needs. The program itself starts no threads.
set(CMAKE_C_COMPILER ${TAGBATCH_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TAGBATCH_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TAGBATCH_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TAGBATCH_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Runs the tests (and anything else built here) under Wine.
find_program(TAGBATCH_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(TAGBATCH_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TAGBATCH_WINE})
endif()
