# Building against musl for 64-bit ARM boards, with Debian's musl-dev:arm64 and aarch64-linux-gnu-g++:
#   cmake -S . -B build/musl-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/musl-arm64.cmake -DHORNSET_STATIC=ON
set(hornset_musl_triple aarch64-linux-musl)
set(hornset_gnu_triple aarch64-linux-gnu)
set(hornset_musl_processor aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/musl.cmake)
