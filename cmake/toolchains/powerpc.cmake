# Cross-compiling for 32-bit big-endian PowerPC boards (Debian architecture powerpc)
# with Debian's powerpc-linux-gnu toolchain:
#   cmake -S . -B build/cross-powerpc -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/powerpc.cmake
set(hornset_cross_triple powerpc-linux-gnu)
set(hornset_cross_processor powerpc)
set(hornset_cross_qemu qemu-ppc-static)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
