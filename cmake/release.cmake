# Makes every release file in build/release, from the top of the source
# tree:
#
#   cmake -P cmake/release.cmake
#
# The folder then holds what cmake/release.list names: the source archive
# tagbatch-VERSION.tar.gz, the Debian package, both Windows zips and both
# static Linux tarballs, each package from its own workflow preset; and
# SHA256SUMS over them all, which `sha256sum -c SHA256SUMS` checks there.
# Every file carries the time of the last CHANGELOG entry (or
# SOURCE_DATE_EPOCH), so that two runs on one commit give the same bytes.
# What it made, for the checks to read, goes into build/release.txt: a line
# "version VERSION", a line "time SECONDS" (since 1970), and for each file
# "file KIND PROCESSOR FOLDER NAME", as the list has them, filled in.
#
# The source archive holds the committed files alone: where the source tree
# is the top of a git work tree, the files of HEAD's tree, which the work
# tree must hold unchanged; in an unpacked source archive, which has no git,
# the files its MANIFEST names. It fails, saying why, with neither, and on
# the first step that fails.
cmake_minimum_required(VERSION 3.25)
get_filename_component(source ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
file(REAL_PATH ${source} source)
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

# The source archive's files, one a line.
set(manifest ${source}/MANIFEST)
execute_process(COMMAND git rev-parse --show-toplevel
                WORKING_DIRECTORY ${source} OUTPUT_VARIABLE top
                OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET
                RESULT_VARIABLE no_git)
if(NOT no_git)
  file(REAL_PATH ${top} top)
endif()
if(NOT no_git AND top STREQUAL source)
  execute_process(COMMAND git status --porcelain --untracked-files=no
                  WORKING_DIRECTORY ${source} OUTPUT_VARIABLE changed
                  RESULT_VARIABLE failed)
  if(failed OR NOT changed STREQUAL "")
    message(FATAL_ERROR "the work tree is not HEAD's: a changed or staged "
            "file would put into the source archive what no commit holds. "
            "Commit or stash it first:\n${changed}")
  endif()
  execute_process(COMMAND git -c core.quotePath=false ls-tree -r --name-only HEAD
                  WORKING_DIRECTORY ${source} OUTPUT_VARIABLE files
                  RESULT_VARIABLE failed)
  if(failed OR files MATCHES "(^|\n)\"")
    message(FATAL_ERROR "git cannot list HEAD's files plainly")
  endif()
elseif(EXISTS ${manifest})
  file(READ ${manifest} files)
else()
  message(FATAL_ERROR "${source} is neither the top of a git work tree nor "
          "an unpacked source archive with its MANIFEST: nothing says which "
          "files are the source")
endif()

# Writes the source archive `archive`, whose files lie in a folder named as
# the archive, less ".tar.gz".
function(make_source_archive archive)
  get_filename_component(top ${archive} NAME)
  string(REGEX REPLACE "[.]tar[.]gz$" "" top ${top})
  # The same list ships in the archive, as its MANIFEST.
  set(listed ${source}/build/release-manifest)
  file(MAKE_DIRECTORY ${listed})
  file(WRITE ${listed}/MANIFEST "${files}")
  execute_process(
    COMMAND tar --create --file - --mtime=@${epoch} --owner=0 --group=0
            --numeric-owner --mode=go-w --format=gnu --no-recursion
            --transform "s|^|${top}/|"
            --directory ${source} --files-from -
            --directory ${listed} MANIFEST
    COMMAND gzip -9n
    INPUT_FILE ${listed}/MANIFEST
    OUTPUT_FILE ${archive}
    RESULT_VARIABLE failed)
  file(REMOVE_RECURSE ${listed})
  if(failed)
    message(FATAL_ERROR "the source archive failed: ${failed}")
  endif()
endfunction()

# The rows of the list: kind, processor, preset, folder and name each.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/release.list lines)
set(rows "")
foreach(line IN LISTS lines)
  string(STRIP "${line}" line)
  if(line STREQUAL "" OR line MATCHES "^#")
    continue()
  endif()
  string(REGEX REPLACE "[ \t]+" ";" fields "${line}")
  list(LENGTH fields count)
  if(NOT count EQUAL 5)
    message(FATAL_ERROR "cmake/release.list: not kind, processor, preset, "
            "folder and name: ${line}")
  endif()
  list(APPEND rows "${line}")
endforeach()

file(REMOVE_RECURSE ${release})
file(MAKE_DIRECTORY ${release})
cmake_host_system_information(RESULT host QUERY OS_PLATFORM)
set(made "version ${version}\ntime ${epoch}\n")
foreach(row IN LISTS rows)
  string(REGEX REPLACE "[ \t]+" ";" fields "${row}")
  list(GET fields 0 kind)
  list(GET fields 1 processor)
  list(GET fields 2 preset)
  list(GET fields 3 folder)
  list(GET fields 4 name)
  string(REPLACE VERSION ${version} name ${name})
  if(processor STREQUAL "host")
    set(processor ${host})
  endif()
  if(kind STREQUAL "source")
    make_source_archive(${source}/${folder}/${name})
    set(package ${source}/${folder}/${name})
  else()
    message(STATUS "release: the ${preset} preset")
    execute_process(COMMAND ${CMAKE_COMMAND} --workflow --preset ${preset}
                    WORKING_DIRECTORY ${source}
                    OUTPUT_QUIET RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "the ${preset} preset failed; run it alone to see "
              "why: cmake --workflow --preset ${preset}")
    endif()
    file(GLOB package ${source}/${folder}/${name})
    list(LENGTH package count)
    if(NOT count EQUAL 1)
      message(FATAL_ERROR "the ${preset} preset made ${count} files named "
              "${folder}/${name}, not one: ${package}")
    endif()
    file(COPY ${package} DESTINATION ${release})
  endif()
  get_filename_component(name ${package} NAME)
  string(APPEND made "file ${kind} ${processor} ${folder} ${name}\n")
endforeach()
file(WRITE ${source}/build/release.txt "${made}")

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
