# Installing quorvel, and packaging it with CPack. Included at the end of
# the top-level CMakeLists.txt, once the quorvel target exists.
#
#   cmake --install build     bin/quorvel, share/man/man1/quorvel.1,
#                             share/doc/quorvel/ (README.md, LICENSE, examples/),
#                             the systemd units, libexec/quorvel/quorvel-cards
#                             and the bash completion
#   cpack -G DEB              (in a Linux build folder) quorvel_<version>_<arch>.deb
#   cpack -G ZIP              (in a Windows build folder) quorvel-<version>-win64.zip
#
# The Debian package that dpkg-buildpackage makes (debian/) installs with
# these rules too; the two packages share debian/'s changelog, copyright
# file, lintian overrides and maintainer.

include(GNUInstallDirs)

file(GLOB quorvel_example_devices CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/examples/*.xml)
set(quorvel_man_page ${PROJECT_SOURCE_DIR}/app/quorvel.1)
set(quorvel_debian_sources ${PROJECT_SOURCE_DIR}/debian)

# The maintainer of both packages is debian/control's (a cache entry of an
# older build folder that named one does not stand in for it).
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${quorvel_debian_sources}/control)
file(STRINGS ${quorvel_debian_sources}/control quorvel_control_maintainer REGEX "^Maintainer: ")
if(NOT quorvel_control_maintainer MATCHES "^Maintainer: (.+)$")
  message(FATAL_ERROR "debian/control: no Maintainer field")
endif()
unset(QUORVEL_PACKAGE_MAINTAINER CACHE)
set(QUORVEL_PACKAGE_MAINTAINER "${CMAKE_MATCH_1}")

# The manual page and the Debian changelog name the version too; a new
# project version needs a changelog entry and a new manual page header.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${quorvel_man_page} ${quorvel_debian_sources}/changelog)
file(STRINGS ${quorvel_man_page} quorvel_man_header REGEX "^\\.TH ")
if(NOT quorvel_man_header MATCHES "\"quorvel ${PROJECT_VERSION}\"")
  message(FATAL_ERROR "app/quorvel.1: its .TH line does not name quorvel ${PROJECT_VERSION}")
endif()
file(STRINGS ${quorvel_debian_sources}/changelog quorvel_changelog_top LIMIT_COUNT 1)
if(NOT quorvel_changelog_top MATCHES "^quorvel \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "debian/changelog: the latest entry is not for version ${PROJECT_VERSION}")
endif()

# Packages are reproducible: the same sources give the same bytes. Their
# files carry one fixed time, the date of the changelog's latest entry (as
# Debian's own tools take it), unless SOURCE_DATE_EPOCH is set when cpack
# runs. CPack reads that variable; the project's CPack configuration sets it.
file(STRINGS ${quorvel_debian_sources}/changelog quorvel_changelog_date REGEX "^ -- " LIMIT_COUNT 1)
set(quorvel_months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
if(NOT quorvel_changelog_date MATCHES
   ">  [A-Z][a-z][a-z], ([0-9]+) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ([0-9][0-9]):([0-9][0-9]):([0-9][0-9]) ([+-])([0-9][0-9])([0-9][0-9])$")
  message(FATAL_ERROR "debian/changelog: the latest entry's trailer has no date as RFC 5322 writes it")
endif()
set(quorvel_day ${CMAKE_MATCH_1})
list(FIND quorvel_months "${CMAKE_MATCH_2}" quorvel_month)
set(quorvel_year ${CMAKE_MATCH_3})
set(quorvel_time_of_day "${CMAKE_MATCH_4} * 3600 + ${CMAKE_MATCH_5} * 60 + ${CMAKE_MATCH_6}")
set(quorvel_offset "${CMAKE_MATCH_7}(${CMAKE_MATCH_8} * 3600 + ${CMAKE_MATCH_9} * 60)")
if(quorvel_month LESS 0)
  message(FATAL_ERROR "debian/changelog: the latest entry's date has no month ${CMAKE_MATCH_2}")
endif()
# Days since 1970-01-01, counted in years that begin in March (so that a
# leap day ends its year), then the time of day, less the offset from UTC.
if(quorvel_month LESS 2)
  math(EXPR quorvel_year "${quorvel_year} - 1")
endif()
math(EXPR quorvel_day_of_year "(153 * ((${quorvel_month} + 10) % 12) + 2) / 5 + ${quorvel_day} - 1")
math(EXPR QUORVEL_SOURCE_DATE_EPOCH
     "(${quorvel_year} * 365 + ${quorvel_year} / 4 - ${quorvel_year} / 100 + ${quorvel_year} / 400
       + ${quorvel_day_of_year} - 719468) * 86400 + ${quorvel_time_of_day} - ${quorvel_offset}")
set(quorvel_cpack_project_config ${CMAKE_CURRENT_BINARY_DIR}/CPackProjectConfig.cmake)
file(WRITE ${quorvel_cpack_project_config}
"# Made by cmake/install.cmake: every package file's time, when the
# environment does not give one.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  set(ENV{SOURCE_DATE_EPOCH} ${QUORVEL_SOURCE_DATE_EPOCH})
endif()
")
set(CPACK_PROJECT_CONFIG_FILE ${quorvel_cpack_project_config})

# Directories made by an install get rwxr-xr-x, less what the umask masks
# (mkdir applies it to these too). The packages' folders are rwxr-xr-x
# whatever the umask of the cpack run: cmake/package-modes.cmake sets them
# in CPack's staging tree, for the .deb and the zip alike.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/package-modes.cmake)
# And the members of the .deb's ar archive are rw-r--r-- whatever the umask.
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/deb-member-modes.cmake)

set(CPACK_PACKAGE_NAME quorvel)
set(CPACK_PACKAGE_VENDOR "The Quorvel developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "save an audio mixer's state to an XML document and restore it")
set(CPACK_PACKAGE_CONTACT "${QUORVEL_PACKAGE_MAINTAINER}")
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git" "/build/" "/build-[^/]*/")

if(WIN32)
  # The zip unpacks to one folder: the program, the README as text with
  # Windows line ends, the copyright notices, and the example devices.
  install(TARGETS quorvel RUNTIME DESTINATION .)
  file(READ ${PROJECT_SOURCE_DIR}/README.md quorvel_readme)
  string(REPLACE "\n" "\r\n" quorvel_readme "${quorvel_readme}")
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/README.txt "${quorvel_readme}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/README.md)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt DESTINATION .)
  # The copyright notices and licenses of the program and of the libraries
  # linked into the exe, which their licenses ask to travel with it.
  file(READ ${PROJECT_SOURCE_DIR}/cmake/windows/COPYING.txt quorvel_copying)
  string(REPLACE "\n" "\r\n" quorvel_copying "${quorvel_copying}")
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/COPYING.txt "${quorvel_copying}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
               ${PROJECT_SOURCE_DIR}/cmake/windows/COPYING.txt)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/COPYING.txt DESTINATION .)
  install(FILES ${quorvel_example_devices} DESTINATION examples)

  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_PACKAGE_FILE_NAME quorvel-${PROJECT_VERSION}-win64)
  else()
    set(CPACK_PACKAGE_FILE_NAME quorvel-${PROJECT_VERSION}-win32)
  endif()
else()
  # The program is linked as Debian links its packaged programs: with the
  # global offset table read-only once it is resolved at start-up.
  if(NOT QUORVEL_SANITIZE AND NOT QUORVEL_FUZZ)
    target_link_options(quorvel PRIVATE LINKER:-z,relro LINKER:-z,now)
    # Relative relocations packed (DT_RELR): fewer for the loader to apply
    # at every start.
    target_link_options(quorvel PRIVATE LINKER:-z,pack-relative-relocs)
  endif()

  # Component "program" is what every install holds; "manual" is the plain
  # manual page and the LICENSE of `cmake --install`; "debian" holds what
  # Debian policy asks of a package instead (the compressed manual page, the
  # copyright file and the compressed changelog) and is installed only into
  # the package.
  install(TARGETS quorvel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT program)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR}
          COMPONENT program)
  # The package has the license in its copyright file, as Debian policy
  # asks, rather than twice.
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR}
          COMPONENT manual)
  install(FILES ${quorvel_example_devices} DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples
          COMPONENT program)
  install(FILES ${quorvel_man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT manual)
  # The Ansible example, a folder of playbooks, roles and a Python module,
  # all of it documentation: nothing in it is run from where it is
  # installed, so no file is executable there (what Ansible leaves in it
  # when it runs from the source tree is left out).
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ansible/
          DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples/ansible COMPONENT program
          FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
          PATTERN __pycache__ EXCLUDE PATTERN *.pyc EXCLUDE PATTERN *.retry EXCLUDE)
  install(FILES ${PROJECT_SOURCE_DIR}/app/quorvel.bash-completion
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions RENAME quorvel
          COMPONENT program)

  # The units and the script they run name where the program and the script
  # are, which is known only when they are installed: `cmake --install
  # --prefix DIR`, CPack (/usr) and a Debian package build each install
  # elsewhere than a build folder's configured prefix may say. Each is made
  # from its template as it is installed, from the prefix of that install.
  set(quorvel_installed ${CMAKE_CURRENT_BINARY_DIR}/installed)
  function(quorvel_install_made template kind destination)
    cmake_path(GET template STEM LAST_ONLY name)
    install(CODE "
      set(CMAKE_INSTALL_FULL_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
      set(QUORVEL_CARDS_SCRIPT
          \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBEXECDIR}/quorvel/quorvel-cards\")
      set(QUORVEL_STATE_DIR /var/lib/quorvel)
      file(READ \"${template}\" made)
      string(CONFIGURE \"\${made}\" made @ONLY)
      file(WRITE \"${quorvel_installed}/${name}\" \"\${made}\")"
      COMPONENT program)
    install(${kind} ${quorvel_installed}/${name} DESTINATION ${destination} COMPONENT program)
  endfunction()
  # The user unit that follows a profile (lib/systemd/user under the prefix,
  # where the user's service manager looks, /usr/local included).
  quorvel_install_made(${PROJECT_SOURCE_DIR}/app/quorvel-follow.service.in FILES lib/systemd/user)
  # The system units that keep the sound cards' mixers across reboots
  # (lib/systemd/system under the prefix, where the service manager looks,
  # /usr/local included), and the script they run for every card. Neither
  # install enables them.
  quorvel_install_made(${PROJECT_SOURCE_DIR}/app/quorvel-cards.in PROGRAMS
                       ${CMAKE_INSTALL_LIBEXECDIR}/quorvel)
  quorvel_install_made(${PROJECT_SOURCE_DIR}/app/quorvel-restore.service.in FILES
                       lib/systemd/system)
  quorvel_install_made(${PROJECT_SOURCE_DIR}/app/quorvel-save.service.in FILES
                       lib/systemd/system)

  # gzip -9n: the most compression, and no name or time stamp in the header,
  # so the same sources give the same package.
  set(quorvel_debian_build ${CMAKE_CURRENT_BINARY_DIR}/debian)
  file(MAKE_DIRECTORY ${quorvel_debian_build})
  add_custom_command(OUTPUT ${quorvel_debian_build}/quorvel.1.gz
    COMMAND gzip -9 -n -c ${quorvel_man_page} > ${quorvel_debian_build}/quorvel.1.gz
    DEPENDS ${quorvel_man_page} VERBATIM)
  add_custom_command(OUTPUT ${quorvel_debian_build}/changelog.gz
    COMMAND gzip -9 -n -c ${quorvel_debian_sources}/changelog > ${quorvel_debian_build}/changelog.gz
    DEPENDS ${quorvel_debian_sources}/changelog VERBATIM)
  add_custom_target(quorvel_debian_files ALL
    DEPENDS ${quorvel_debian_build}/quorvel.1.gz ${quorvel_debian_build}/changelog.gz)
  install(FILES ${quorvel_debian_build}/quorvel.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT debian EXCLUDE_FROM_ALL)
  install(FILES ${quorvel_debian_sources}/copyright ${quorvel_debian_build}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT debian EXCLUDE_FROM_ALL)
  install(FILES ${quorvel_debian_sources}/quorvel.lintian-overrides
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME quorvel
          COMPONENT debian EXCLUDE_FROM_ALL)
  # CPack strips the program (CPACK_STRIP_FILES); a package's binary also
  # goes without the .comment and .note sections, as Debian's own
  # packaging tools leave it.
  install(CODE "execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment
                  --remove-section=.note
                  \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/quorvel\"
                  COMMAND_ERROR_IS_FATAL ANY)"
          COMPONENT debian EXCLUDE_FROM_ALL)

  set(CPACK_GENERATOR DEB)
  set(CPACK_INSTALL_CMAKE_PROJECTS
      ${CMAKE_CURRENT_BINARY_DIR} quorvel program /
      ${CMAKE_CURRENT_BINARY_DIR} quorvel debian /)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUORVEL_PACKAGE_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_SECTION sound)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION [=[
quorvel saves the whole state of a computer's audio mixer (device,
destination lines, source lines, every control and its values) to an XML
document, and restores a mixer from such a document, read from a file or
an http or https URL, also on another machine whose mixer differs.
It works on a sound server's mixer (PulseAudio, or PipeWire's Pulse
server: every output and input), on ALSA sound cards, and on simulated
devices described by a document.]=])
  # Depends: the shared libraries the program is linked with, as
  # dpkg-shlibdeps finds them, and by hand libasound.so.2, which it loads
  # at run time with dlopen to use ALSA, the machine's mixer (1.0.16 has
  # every function platform/alsa/alsa_lib.h looks up, by Debian's symbols
  # file). Recommends: libcurl.so.4, loaded only for http and https
  # sources; without it the program works on files and says so for a URL;
  # and libpulse.so.0, loaded only to reach a sound server's mixer
  # (PulseAudio, or PipeWire's Pulse server); without it the machine's
  # mixer is its sound card, through ALSA.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libasound2 (>= 1.0.16)")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libcurl4, libpulse0")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

include(CPack)

# The Debian package, built and checked as a test (scripts/check-package
# skips it, with the reason, in a sanitizer build or without the tools).
if(QUORVEL_TESTS AND NOT WIN32)
  add_test(NAME PackageTest.DebianPackageInstallsRunsAndPassesLintian
           COMMAND ${PROJECT_SOURCE_DIR}/scripts/check-package ${CMAKE_CURRENT_BINARY_DIR})
  set_tests_properties(PackageTest.DebianPackageInstallsRunsAndPassesLintian PROPERTIES
                       SKIP_RETURN_CODE 77 TIMEOUT 600 LABELS heavy)
  # The package of debian/, built twice by dpkg-buildpackage from copies of
  # the sources (scripts/check-debian-package skips it without the tools).
  add_test(NAME PackageTest.DebianSourcePackageBuildsReproduciblyAndPassesLintian
           COMMAND ${PROJECT_SOURCE_DIR}/scripts/check-debian-package)
  set_tests_properties(PackageTest.DebianSourcePackageBuildsReproduciblyAndPassesLintian
                       PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 1500 LABELS heavy)
  # The cards script as `cmake --install` makes it, and the completion.
  add_test(NAME InstalledFilesTest.CardsScriptRestoresAndSavesEachCard
           COMMAND ${PROJECT_SOURCE_DIR}/tests/e2e/quorvel_cards_test.sh ${CMAKE_CURRENT_BINARY_DIR})
  add_test(NAME InstalledFilesTest.BashCompletionOffersOptionsAndDocuments
           COMMAND ${PROJECT_SOURCE_DIR}/tests/e2e/bash_completion_test.sh
                   ${PROJECT_SOURCE_DIR}/app/quorvel.bash-completion)
  set_tests_properties(InstalledFilesTest.CardsScriptRestoresAndSavesEachCard
                       InstalledFilesTest.BashCompletionOffersOptionsAndDocuments
                       PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 60)
endif()
