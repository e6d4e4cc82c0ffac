# Run by CPack (CPACK_POST_BUILD_SCRIPTS) once it has made the packages,
# before it copies them out of its staging folder.
#
# A .deb is an ar archive of debian-binary, control.tar.* and data.tar.*.
# CPack writes these to files under the umask of the cpack run, and the ar
# header of each member takes its file's mode, so another umask would give
# the same package in other bytes. dpkg reads none of these modes; each
# header gets rw-r--r-- here, as dpkg-deb writes it. An ar header is 60
# bytes of text: name (16), time (12), uid (6), gid (6), mode in octal (8),
# size (10) and "`\n"; the member follows, padded to an even size.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "\\.deb$")
    continue()
  endif()
  file(SIZE "${package}" package_size)
  file(READ "${package}" magic LIMIT 8)
  if(NOT magic STREQUAL "!<arch>\n")
    message(FATAL_ERROR "${package} is not an ar archive")
  endif()
  set(offset 8)
  while(offset LESS package_size)
    file(READ "${package}" header OFFSET ${offset} LIMIT 60)
    string(LENGTH "${header}" header_length)
    if(header_length EQUAL 60)
      string(SUBSTRING "${header}" 40 8 mode)
      string(SUBSTRING "${header}" 48 12 size_field)
    endif()
    if(NOT header_length EQUAL 60 OR NOT size_field MATCHES "^([0-9]+) *`\n$")
      message(FATAL_ERROR "${package}: no ar member header at byte ${offset}")
    endif()
    set(member_size ${CMAKE_MATCH_1})
    if(NOT mode STREQUAL "100644  ")
      math(EXPR mode_offset "${offset} + 40")
      execute_process(COMMAND printf "100644  "
                      COMMAND dd "of=${package}" bs=1 seek=${mode_offset} conv=notrunc status=none
                      COMMAND_ERROR_IS_FATAL ANY)
    endif()
    math(EXPR offset "${offset} + 60 + ${member_size} + ${member_size} % 2")
  endwhile()
endforeach()
