# Makes every release file in build/release, from the top of the source
# tree, with or without git:
#
#   cmake -P cmake/release.cmake
#
# The folder then holds the source archive tagbatch-VERSION.tar.gz, the
# Debian package, both Windows zips, both static Linux tarballs, and
# SHA256SUMS over them all, which `sha256sum -c SHA256SUMS` checks there.
# Each package comes from its own workflow preset. Every file carries the
# time of the last CHANGELOG entry (or SOURCE_DATE_EPOCH), so that two
# runs on one commit give the same bytes. Fails, saying which step, on
# the first step that fails.
cmake_minimum_required(VERSION 3.25)
get_filename_component(source ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
set(release ${source}/build/release)

file(STRINGS ${source}/CMakeLists.txt project REGEX "^project\\(tagbatch VERSION")
if(NOT project MATCHES "VERSION ([0-9.]+)")
  message(FATAL_ERROR "no version in ${source}/CMakeLists.txt")
endif()
set(version ${CMAKE_MATCH_1})
include(${CMAKE_CURRENT_LIST_DIR}/source-date.cmake)
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(epoch $ENV{SOURCE_DATE_EPOCH})
else()
  tagbatch_source_date(${source}/CHANGELOG epoch)
endif()

file(REMOVE_RECURSE ${release})
file(MAKE_DIRECTORY ${release})

# The source as committed: every file of the tree but the builds and what
# Python and git keep for themselves, in one folder, sorted, with fixed
# times, owners and permissions.
file(GLOB_RECURSE files RELATIVE ${source} LIST_DIRECTORIES false
     ${source}/*)
list(FILTER files EXCLUDE REGEX "^(build|out|\\.git)/|(^|/)__pycache__/")
list(SORT files)
list(JOIN files "\n" listing)
file(WRITE ${source}/build/release-files "${listing}\n")
set(archive tagbatch-${version}.tar.gz)
execute_process(
  COMMAND tar --create --file - --directory ${source}
          --files-from ${source}/build/release-files --sort=name
          --mtime=@${epoch} --owner=0 --group=0 --numeric-owner
          --mode=go-w --format=gnu
          --transform "s|^|tagbatch-${version}/|"
  COMMAND gzip -9n
  OUTPUT_FILE ${release}/${archive}
  RESULT_VARIABLE failed)
file(REMOVE ${source}/build/release-files)
if(failed)
  message(FATAL_ERROR "the source archive failed: ${failed}")
endif()

# The packages, each from its own preset and build folder.
foreach(preset deb zip zip32 tarball tarball-aarch64)
  message(STATUS "release: the ${preset} preset")
  execute_process(COMMAND ${CMAKE_COMMAND} --workflow --preset ${preset}
                  WORKING_DIRECTORY ${source}
                  OUTPUT_QUIET RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "the ${preset} preset failed; run it alone to see why:"
            " cmake --workflow --preset ${preset}")
  endif()
endforeach()
file(GLOB packages ${source}/build/program/tagbatch_${version}_*.deb
     ${source}/build/windows*-program/tagbatch-${version}-win*.zip
     ${source}/build/linux*-program/tagbatch-${version}-*-linux.tar.gz)
list(LENGTH packages count)
if(NOT count EQUAL 5)
  message(FATAL_ERROR "expected 5 packages, found ${count}: ${packages}")
endif()
file(COPY ${packages} DESTINATION ${release})

file(GLOB names RELATIVE ${release} ${release}/*)
list(SORT names)
set(sums "")
foreach(name IN LISTS names)
  file(SHA256 ${release}/${name} hash)
  string(APPEND sums "${hash}  ${name}\n")
endforeach()
file(WRITE ${release}/SHA256SUMS "${sums}")
list(JOIN names ", " shown)
message(STATUS "release: ${release} holds ${shown} and SHA256SUMS")
