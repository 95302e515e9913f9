# SPDX-License-Identifier: MIT
# Installation and packages. The version comes from project(), the release
# date from the changelog's newest entry (its one place); both reach the
# manual, the Debian metadata and the Windows zip.
set(EXTRACTOR_CONTACT
    "extractor developers <extractor-developers@users.noreply.example.org>"
    CACHE STRING "Maintainer of the packages: Name <address>")

include(${CMAKE_CURRENT_LIST_DIR}/release_date.cmake)

set(doc_dir ${CMAKE_BINARY_DIR}/doc)
configure_file(${PROJECT_SOURCE_DIR}/doc/extractor.1.in ${doc_dir}/extractor.1 @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/doc/changelog.in ${doc_dir}/changelog @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/doc/copyright.in ${doc_dir}/copyright @ONLY)

if(WIN32)
  # A zip for Windows users: the program, and beside it the README, the
  # licence and the manual as text files with CR LF line ends.
  find_program(GROFF groff REQUIRED)
  set(crlf ${PROJECT_SOURCE_DIR}/cmake/crlf_text.cmake)
  add_custom_command(OUTPUT ${doc_dir}/extractor.utf8
    COMMAND ${GROFF} -man -Tutf8 -P-cbou ${doc_dir}/extractor.1 > ${doc_dir}/extractor.utf8
    DEPENDS ${doc_dir}/extractor.1 VERBATIM)
  set(texts)
  foreach(pair "${PROJECT_SOURCE_DIR}/README.md|README.txt"
               "${PROJECT_SOURCE_DIR}/LICENSE|LICENSE.txt"
               "${doc_dir}/extractor.utf8|extractor.txt")
    string(REPLACE "|" ";" pair "${pair}")
    list(GET pair 0 from)
    list(GET pair 1 to)
    add_custom_command(OUTPUT ${doc_dir}/${to}
      COMMAND ${CMAKE_COMMAND} -DIN=${from} -DOUT=${doc_dir}/${to} -P ${crlf}
      DEPENDS ${from} ${crlf} VERBATIM)
    list(APPEND texts ${doc_dir}/${to})
  endforeach()
  add_custom_target(manual ALL DEPENDS ${texts})
  install(TARGETS extractor RUNTIME DESTINATION .)
  install(FILES ${texts} DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME extractor-${PROJECT_VERSION}-windows-x86_64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  # The manual and the changelog gzipped as Debian expects them.
  find_program(GZIP gzip REQUIRED)
  foreach(doc extractor.1 changelog)
    add_custom_command(OUTPUT ${doc_dir}/${doc}.gz
      COMMAND ${GZIP} -9nc ${doc_dir}/${doc} > ${doc_dir}/${doc}.gz
      DEPENDS ${doc_dir}/${doc} VERBATIM)
  endforeach()
  add_custom_target(manual ALL DEPENDS ${doc_dir}/extractor.1.gz ${doc_dir}/changelog.gz)
  install(TARGETS extractor RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${doc_dir}/extractor.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # Debian's own files go into the .deb alone, not into `cmake --install`.
  install(FILES ${doc_dir}/copyright ${doc_dir}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT debian EXCLUDE_FROM_ALL)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_COMPONENTS_ALL Unspecified debian)
  set(CPACK_GENERATOR DEB)  # a plain `cpack` in a release build makes the .deb
  if(CMAKE_CROSSCOMPILING)
    # dpkg speaks for the host only: the target's architecture by name, and
    # the C library version from the symbol versions the program needs,
    # read when cpack runs (cmake/deb_depends.cmake).
    set(deb_architectures "aarch64=arm64" "arm=armhf" "s390x=s390x" "x86_64=amd64")
    foreach(pair IN LISTS deb_architectures)
      string(REPLACE "=" ";" pair "${pair}")
      list(GET pair 0 processor)
      if(CMAKE_SYSTEM_PROCESSOR STREQUAL processor)
        list(GET pair 1 CPACK_DEBIAN_PACKAGE_ARCHITECTURE)
      endif()
    endforeach()
    find_program(READELF NAMES ${CMAKE_READELF} readelf REQUIRED)
    file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/deb_depends_config.cmake
         CONTENT "set(READELF \"${READELF}\")\nset(BINARY \"$<TARGET_FILE:extractor>\")\ninclude(${PROJECT_SOURCE_DIR}/cmake/deb_depends.cmake)\n")
    set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/deb_depends_config.cmake)
  endif()

  # The static build's archive for any Linux: the program, the manual,
  # README, LICENSE and the changelog in one top folder, members sorted,
  # with fixed owners and times (target static_archive).
  if(EXTRACTOR_STATIC)
    set(static_name extractor-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR})
    add_custom_target(static_archive
      COMMAND sh ${PROJECT_SOURCE_DIR}/cmake/static_archive.sh ${CMAKE_BINARY_DIR}/${static_name}.tar.gz
              ${static_name} ${EXTRACTOR_SOURCE_DATE_EPOCH} ${CMAKE_STRIP}
              $<TARGET_FILE:extractor> ${doc_dir}/extractor.1 ${PROJECT_SOURCE_DIR}/README.md
              ${PROJECT_SOURCE_DIR}/LICENSE ${doc_dir}/changelog
      DEPENDS extractor VERBATIM)
  endif()
endif()

set(CPACK_PACKAGE_NAME extractor)
set(CPACK_PACKAGE_VENDOR "the extractor developers")
set(CPACK_PACKAGE_CONTACT "${EXTRACTOR_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "lists and extracts the entries of .MDT and .PAR archives")
set(CPACK_PACKAGE_DESCRIPTION
    "extractor reads an archive of the .MDT/.PAR layout (32-byte entry headers,
each followed by run-length coded data) and, for every entry, prints a
listing line and writes the entry's decoded bytes to a file named by the
entry, relative to the current directory. It refuses names that would reach
outside that directory, never writes through planted links or into FIFOs
and devices, and never overwrites the archive it reads.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
if(NOT CMAKE_CROSSCOMPILING)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
include(CPack)

# Checks that need no test framework: the manual has no groff warnings;
# and, in the release build, the .deb (label package; the release workflow
# runs it after packaging).
find_program(GROFF_FOR_CHECK groff)
if(GROFF_FOR_CHECK)
  add_test(NAME manual.no_groff_warnings
           COMMAND sh -c "out=$(${GROFF_FOR_CHECK} -man -Tutf8 -ww -z \"$1\" 2>&1); echo \"$out\"; test -z \"$out\""
                   check ${doc_dir}/extractor.1)
  set_tests_properties(manual.no_groff_warnings PROPERTIES LABELS doc)
endif()
option(EXTRACTOR_PACKAGE_CHECK "Test the .deb after packaging (release preset)" OFF)
if(EXTRACTOR_PACKAGE_CHECK AND NOT WIN32 AND NOT CMAKE_CROSSCOMPILING)
  # The package, its program's listing the same as the build's own.
  add_test(NAME package.deb
           COMMAND sh ${PROJECT_SOURCE_DIR}/tests/ci/deb.sh
                   ${CMAKE_BINARY_DIR}/extractor_${PROJECT_VERSION}_amd64.deb
                   ${PROJECT_SOURCE_DIR}/examples ${CMAKE_BINARY_DIR}/package.listing
                   $<TARGET_FILE:extractor>)
  set_tests_properties(package.deb PROPERTIES LABELS package)
endif()
