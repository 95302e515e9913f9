# SPDX-License-Identifier: MIT
# cmake -DOUT=DIR -DFILES=A;B;... -P dist_collect.cmake: DIR holds the
# FILES alone, and SHA256SUMS over them in the form sha256sum -c reads.
file(REMOVE_RECURSE ${OUT})
file(MAKE_DIRECTORY ${OUT})
set(sums "")
set(names)
foreach(path IN LISTS FILES)
  get_filename_component(name ${path} NAME)
  file(COPY ${path} DESTINATION ${OUT})
  list(APPEND names ${name})
endforeach()
list(SORT names)
foreach(name IN LISTS names)
  file(SHA256 ${OUT}/${name} hash)
  string(APPEND sums "${hash}  ${name}\n")
endforeach()
file(WRITE ${OUT}/SHA256SUMS "${sums}")
