# Run by CPack (CPACK_PRE_BUILD_SCRIPTS) once the files to package are
# installed into its staging folder, before the package is made from it.
#
# An install makes the folders that lead to its files with mkdir, which the
# umask of the cpack run masks, CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
# or not; CPack makes its staging folders the same way. A package built
# under umask 027 would then hold rwxr-x--- folders, closed to users. Every
# folder in the staging tree gets rwxr-xr-x here, so the package is the same
# whatever the umask. The files need nothing: install() gives each file its
# mode outright (rw-r--r--, rwxr-xr-x for the program), whatever the umask
# and the mode of the file it copies.
if(NOT IS_DIRECTORY "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
  message(FATAL_ERROR "no staging folder to give modes: '${CPACK_TEMPORARY_INSTALL_DIRECTORY}'")
endif()
file(GLOB_RECURSE quorvel_staged LIST_DIRECTORIES true "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
set(quorvel_staged_folders "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
foreach(path IN LISTS quorvel_staged)
  if(IS_DIRECTORY "${path}" AND NOT IS_SYMLINK "${path}")
    list(APPEND quorvel_staged_folders "${path}")
  endif()
endforeach()
file(CHMOD ${quorvel_staged_folders} DIRECTORY_PERMISSIONS
     OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
