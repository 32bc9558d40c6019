# Cross-compiling for 32-bit big-endian MIPS boards (Debian architecture mips)
# with Debian's mips-linux-gnu toolchain:
#   cmake -S . -B build/cross-mips -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mips.cmake
set(hornset_cross_triple mips-linux-gnu)
set(hornset_cross_processor mips)
set(hornset_cross_qemu qemu-mips-static)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
