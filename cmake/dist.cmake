# SPDX-License-Identifier: MIT
# Every release artifact (the dist preset: cmake --workflow --preset dist),
# each built from this source tree in a build tree of its own, gathered
# into build/dist with SHA256SUMS:
#   extractor_VERSION_amd64.deb, extractor_VERSION_arm64.deb
#   extractor-VERSION-linux-x86_64.tar.gz, ...-linux-aarch64.tar.gz (static)
#   extractor-VERSION-windows-x86_64.zip
# Reproducible: dates come from the changelog's newest entry
# (SOURCE_DATE_EPOCH for the packages), the checkout's and build trees'
# paths are mapped out of the binaries, and archives list their members
# sorted, with fixed owners and times.
include(ExternalProject)
include(${CMAKE_CURRENT_LIST_DIR}/release_date.cmake)

set(dist_dir ${PROJECT_SOURCE_DIR}/build/dist)
set(version ${PROJECT_VERSION})
set(epoch ${EXTRACTOR_SOURCE_DATE_EPOCH})
set(toolchains ${PROJECT_SOURCE_DIR}/cmake)
set(cpack env SOURCE_DATE_EPOCH=${epoch} ${CMAKE_CPACK_COMMAND} --config CPackConfig.cmake -G)

# dist_build(NAME ARTIFACT PACKAGE_COMMAND CMAKE_ARGS...): builds the
# program in build tree NAME with CMAKE_ARGS, then packs ARTIFACT there.
set(artifacts)
set(builds)
function(dist_build name artifact package)
  set(tree ${CMAKE_BINARY_DIR}/${name})
  ExternalProject_Add(${name}
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${tree}
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DEXTRACTOR_TESTS=OFF
               "-DCMAKE_CXX_FLAGS=-ffile-prefix-map=${PROJECT_SOURCE_DIR}=. -ffile-prefix-map=${tree}=."
               ${ARGN}
    BUILD_COMMAND ${CMAKE_COMMAND} --build ${tree} --target extractor manual
    INSTALL_COMMAND ${package}
    BUILD_ALWAYS ON
    USES_TERMINAL_BUILD ON)
  set(artifacts ${artifacts} ${tree}/${artifact} PARENT_SCOPE)
  set(builds ${builds} ${name} PARENT_SCOPE)
endfunction()

dist_build(deb-amd64 extractor_${version}_amd64.deb "${cpack};DEB" -DEXTRACTOR_HARDENED=ON)
dist_build(deb-arm64 extractor_${version}_arm64.deb "${cpack};DEB" -DEXTRACTOR_HARDENED=ON
           -DCMAKE_TOOLCHAIN_FILE=${toolchains}/toolchain-arm64.cmake)
set(static_archive ${CMAKE_COMMAND} --build . --target static_archive)
dist_build(static-x86_64 extractor-${version}-linux-x86_64.tar.gz "${static_archive}"
           -DEXTRACTOR_HARDENED=ON -DEXTRACTOR_STATIC=ON)
dist_build(static-aarch64 extractor-${version}-linux-aarch64.tar.gz "${static_archive}"
           -DEXTRACTOR_HARDENED=ON -DEXTRACTOR_STATIC=ON
           -DCMAKE_TOOLCHAIN_FILE=${toolchains}/toolchain-arm64.cmake)
dist_build(windows-x86_64 extractor-${version}-windows-x86_64.zip "${cpack};ZIP"
           -DCMAKE_TOOLCHAIN_FILE=${toolchains}/toolchain-windows.cmake)

add_custom_target(dist ALL
  COMMAND ${CMAKE_COMMAND} -DOUT=${dist_dir} "-DFILES=${artifacts}"
          -P ${CMAKE_CURRENT_LIST_DIR}/dist_collect.cmake
  DEPENDS ${builds}
  VERBATIM)

# Each artifact as a user gets it (label dist).
enable_testing()
add_test(NAME dist.artifacts
         COMMAND sh ${PROJECT_SOURCE_DIR}/tests/ci/dist.sh ${dist_dir} ${version}
                 ${PROJECT_SOURCE_DIR}/examples)
set_tests_properties(dist.artifacts PROPERTIES LABELS dist TIMEOUT 900)
