# Toolchain file for Debian's cross compilers (packages g++-TRIPLE, or
# crossbuild-essential-ARCH), for the architecture HORNSET_TARGET of targets.tsv:
#   cmake -S . -B build/board -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/debian-cross.cmake -DHORNSET_TARGET=armhf
# (cmake/toolchains/ARCH.cmake name it themselves). The board's GNU
# triple, processor and qemu-user binary come from the table. Its libraries
# and headers live in /usr/TRIPLE, where the compilers already look; no
# --sysroot is needed.

include(${CMAKE_CURRENT_LIST_DIR}/../targets.cmake)
hornset_toolchain_target(debian-cross.cmake)
set(hornset_cross_triple ${hornset_target_triple})

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${hornset_target_processor})

set(CMAKE_C_COMPILER ${hornset_cross_triple}-gcc)
set(CMAKE_CXX_COMPILER ${hornset_cross_triple}-g++)

# Libraries, headers and packages come from the target's tree only; programs
# (code generators, readelf, qemu) are the build machine's.
set(CMAKE_FIND_ROOT_PATH /usr/${hornset_cross_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Target programs (the tests, and test discovery at build time) run under
# qemu-user, which finds the target's dynamic loader through -L. The target
# tree has no ld.so.cache of its own, so the loader reads the build machine's,
# and a path listed there that the target tree lacks is opened on the build
# machine: with 32-bit x86 libraries installed (libc6-i386, /lib32), an i386
# program got the machine's libc.so.6 beside the toolchain's loader, from
# another build of glibc, and hung in fork. LD_LIBRARY_PATH, searched before
# the cache, keeps every library in the target tree.
# The path is absolute: the tests spawn it directly. Without qemu-user,
# hornset still builds, and the tests and the emulated board are left out.
find_program(HORNSET_CROSS_QEMU ${hornset_target_qemu} NO_CMAKE_FIND_ROOT_PATH
    DOC "qemu-user binary that runs ${hornset_cross_triple} programs")
if(HORNSET_CROSS_QEMU)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${HORNSET_CROSS_QEMU} -L /usr/${hornset_cross_triple}
        -E LD_LIBRARY_PATH=/usr/${hornset_cross_triple}/lib)
endif()
