# SPDX-License-Identifier: MIT
# Cross-compiling for Linux on 32-bit ARM (armhf: ARMv7, hardware floating
# point, little-endian), run under qemu-user.
set(cross_triple arm-linux-gnueabihf)
set(cross_qemu qemu-arm)
set(CMAKE_SYSTEM_PROCESSOR arm)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
