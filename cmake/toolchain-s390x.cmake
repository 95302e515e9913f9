# SPDX-License-Identifier: MIT
# Cross-compiling for Linux on s390x (big-endian, 64-bit), run under qemu-user.
set(cross_triple s390x-linux-gnu)
set(cross_qemu qemu-s390x)
set(CMAKE_SYSTEM_PROCESSOR s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
