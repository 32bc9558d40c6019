# Cross-compiling for 32-bit ARM, soft-float ABI boards, ARMv5TE and later (Debian architecture armel)
# with Debian's arm-linux-gnueabi toolchain:
#   cmake -S . -B build/cross-armel -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/armel.cmake
set(hornset_cross_triple arm-linux-gnueabi)
set(hornset_cross_processor arm)
set(hornset_cross_qemu qemu-arm-static)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
