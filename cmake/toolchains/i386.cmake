# Cross-compiling for 32-bit x86 boards and PCs (Debian architecture i386)
# with Debian's i686-linux-gnu toolchain:
#   cmake -S . -B build/cross-i386 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/i386.cmake
set(hornset_cross_triple i686-linux-gnu)
set(hornset_cross_processor i686)
set(hornset_cross_qemu qemu-i386-static)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
