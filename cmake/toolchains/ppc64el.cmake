# Cross-compiling for 64-bit little-endian PowerPC (POWER8 and later) (Debian architecture ppc64el)
# with Debian's powerpc64le-linux-gnu toolchain:
#   cmake -S . -B build/cross-ppc64el -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/ppc64el.cmake
set(hornset_cross_triple powerpc64le-linux-gnu)
set(hornset_cross_processor ppc64le)
set(hornset_cross_qemu qemu-ppc64le-static)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
