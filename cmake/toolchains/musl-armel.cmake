# Building against musl for 32-bit ARM, soft-float boards, ARMv5TE and later, with Debian's musl-dev:armel and arm-linux-gnueabi-g++:
#   cmake -S . -B build/musl-armel -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/musl-armel.cmake -DHORNSET_STATIC=ON
set(hornset_musl_triple arm-linux-musleabi)
set(hornset_gnu_triple arm-linux-gnueabi)
set(hornset_musl_processor arm)
include(${CMAKE_CURRENT_LIST_DIR}/musl.cmake)
