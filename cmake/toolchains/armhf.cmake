# Cross-compiling for 32-bit ARM, hard-float ABI boards (Debian architecture armhf)
# with Debian's arm-linux-gnueabihf toolchain:
#   cmake -S . -B build/cross-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/armhf.cmake
set(hornset_cross_triple arm-linux-gnueabihf)
set(hornset_cross_processor arm)
set(hornset_cross_qemu qemu-arm-static)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
