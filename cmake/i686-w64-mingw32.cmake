# Cross-building for 32-bit Windows with Debian's MinGW-w64 compiler
# (package g++-mingw-w64-i686); tests run under Wine, which needs its 32-bit
# part for them: the host's (package wine32, of the i386 architecture) or,
# where the host has none, Wine in a 32-bit Debian, through the wrapper
# that .ci/wine32-chroot writes into this source tree's build folder.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TAGBATCH_MINGW_PREFIX i686-w64-mingw32)
set(TAGBATCH_WINE_NAMES wine)
get_filename_component(TAGBATCH_WINE32_WRAPPER
                       ${CMAKE_CURRENT_LIST_DIR}/../build/wine32/wine ABSOLUTE)
if(NOT EXISTS /usr/lib/wine/wine AND EXISTS ${TAGBATCH_WINE32_WRAPPER})
  set(TAGBATCH_WINE ${TAGBATCH_WINE32_WRAPPER} CACHE FILEPATH
      "Wine, which runs the tests")
endif()
include(${CMAKE_CURRENT_LIST_DIR}/windows-cross.cmake)
