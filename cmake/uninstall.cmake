# Removes what `cmake --install` put in place, as its install_manifest.txt
# in the build folder lists it, under DESTDIR when that is set, as it was
# for the install; and the documentation folder once it is empty. Run by
# the `uninstall` target.
set(manifest "${CMAKE_CURRENT_BINARY_DIR}/install_manifest.txt")
if(NOT EXISTS "${manifest}")
  message(FATAL_ERROR "Nothing to remove: ${manifest} is missing; run cmake --install first")
endif()
file(STRINGS "${manifest}" installed)
foreach(installed_path IN LISTS installed)
  set(path "$ENV{DESTDIR}${installed_path}")
  if(EXISTS "${path}" OR IS_SYMLINK "${path}")
    message(STATUS "Removing ${path}")
    file(REMOVE "${path}")
  endif()
  get_filename_component(folder "${path}" DIRECTORY)
  if(folder MATCHES "/doc/tagbatch$" AND IS_DIRECTORY "${folder}")
    file(GLOB left "${folder}/*")
    if(NOT left)
      file(REMOVE_RECURSE "${folder}")
    endif()
  endif()
endforeach()
