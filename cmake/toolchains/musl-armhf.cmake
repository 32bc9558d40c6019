# Building against musl for 32-bit ARM, hard-float boards, with Debian's musl-dev:armhf and arm-linux-gnueabihf-g++:
#   cmake -S . -B build/musl-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/musl-armhf.cmake -DHORNSET_STATIC=ON
set(hornset_musl_triple arm-linux-musleabihf)
set(hornset_gnu_triple arm-linux-gnueabihf)
set(hornset_musl_processor arm)
include(${CMAKE_CURRENT_LIST_DIR}/musl.cmake)
