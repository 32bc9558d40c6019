# Building against musl for this machine (x86-64), with Debian's musl-tools and x86_64-linux-gnu-g++:
#   cmake -S . -B build/musl-x86_64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/musl-x86_64.cmake -DHORNSET_STATIC=ON
set(hornset_musl_triple x86_64-linux-musl)
set(hornset_gnu_triple x86_64-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/musl.cmake)
