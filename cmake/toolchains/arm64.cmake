# Cross-compiling for 64-bit ARM boards (Debian architecture arm64)
# with Debian's aarch64-linux-gnu toolchain:
#   cmake -S . -B build/cross-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/arm64.cmake
set(hornset_cross_triple aarch64-linux-gnu)
set(hornset_cross_processor aarch64)
set(hornset_cross_qemu qemu-aarch64-static)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
