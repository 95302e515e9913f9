# SPDX-License-Identifier: MIT
# Cross-compiling for Linux on 64-bit ARM (arm64), run under qemu-user.
set(cross_triple aarch64-linux-gnu)
set(cross_qemu qemu-aarch64)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
