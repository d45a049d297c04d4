# Run by CPack on the staged files before it packs them: strips the program
# of the sections Debian's own packages drop as well (the compilers'
# .comment and .note), besides its symbols: in bin/ in the Debian package,
# at the top of the tarball's folder.
file(GLOB_RECURSE programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/bin/*"
     "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/tagbatch")
foreach(program IN LISTS programs)
  execute_process(
    COMMAND "${CPACK_STRIP}" --remove-section=.comment --remove-section=.note
            --strip-unneeded "${program}"
    RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "cannot strip ${program}")
  endif()
endforeach()
