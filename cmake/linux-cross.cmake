# SPDX-License-Identifier: MIT
# Shared part of the Linux cross toolchain files: Debian's cross compiler
# for `cross_triple`, its libraries as the sysroot, and qemu-user to run
# the target's programs (CTest runs every test binary through it).
# Needs the Debian packages g++-<triple with dashes> and qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${cross_triple}-gcc)
set(CMAKE_CXX_COMPILER ${cross_triple}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${cross_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${cross_qemu} -L /usr/${cross_triple})
