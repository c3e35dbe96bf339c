# Run by CPack on its staging folder before packing: strip keeps the compiler's .comment
# and .note sections, which Debian removes from the programs and libraries it ships.
file(GLOB_RECURSE files LIST_DIRECTORIES false "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(f IN LISTS files)
  if(IS_SYMLINK "${f}")
    continue()
  endif()
  file(READ "${f}" magic LIMIT 4 HEX)
  if(magic STREQUAL "7f454c46")
    execute_process(COMMAND "${CPACK_PHOTOFORKP_OBJCOPY}" --remove-section=.comment --remove-section=.note "${f}"
      COMMAND_ERROR_IS_FATAL ANY)
  endif()
endforeach()
