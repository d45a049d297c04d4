# What the Windows cross builds share: included by their toolchain files once
# they have set CMAKE_SYSTEM_PROCESSOR, TAGBATCH_MINGW_PREFIX (the compilers'
# prefix, from Debian's g++-mingw-w64-ARCH package) and TAGBATCH_WINE_NAMES
# (the Wine loaders that run its programs, best first). Tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)

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
find_program(TAGBATCH_WINE NAMES ${TAGBATCH_WINE_NAMES} PATHS /usr/lib/wine)
if(TAGBATCH_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TAGBATCH_WINE})
endif()
