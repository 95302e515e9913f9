# SPDX-License-Identifier: MIT
# Read by cpack (CPACK_PROJECT_CONFIG_FILE) in a cross build, with READELF
# and BINARY set: the package depends on a C library at least as new as
# the newest symbol version the program needs, as dpkg-shlibdeps finds.
if(CPACK_GENERATOR STREQUAL "DEB")
  execute_process(COMMAND ${READELF} --version-info ${BINARY} OUTPUT_VARIABLE versions
                  COMMAND_ERROR_IS_FATAL ANY)
  string(REGEX MATCHALL "GLIBC_[0-9]+\\.[0-9]+" needed "${versions}")
  set(newest 0.0)
  foreach(version IN LISTS needed)
    string(REPLACE "GLIBC_" "" version ${version})
    if(version VERSION_GREATER newest)
      set(newest ${version})
    endif()
  endforeach()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= ${newest})")
endif()
