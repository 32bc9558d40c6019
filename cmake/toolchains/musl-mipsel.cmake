# Building against musl for 32-bit little-endian MIPS boards, with Debian's musl-dev:mipsel and mipsel-linux-gnu-g++:
#   cmake -S . -B build/musl-mipsel -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/musl-mipsel.cmake -DHORNSET_STATIC=ON
set(hornset_musl_triple mipsel-linux-musl)
set(hornset_gnu_triple mipsel-linux-gnu)
set(hornset_musl_processor mipsel)
include(${CMAKE_CURRENT_LIST_DIR}/musl.cmake)
