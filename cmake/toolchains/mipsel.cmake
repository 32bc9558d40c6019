# Cross-compiling for 32-bit little-endian MIPS boards (Debian architecture mipsel)
# with Debian's mipsel-linux-gnu toolchain:
#   cmake -S . -B build/cross-mipsel -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mipsel.cmake
set(hornset_cross_triple mipsel-linux-gnu)
set(hornset_cross_processor mipsel)
set(hornset_cross_qemu qemu-mipsel-static)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
