# Building against musl for 32-bit x86 boards and PCs (i686), with Debian's musl-dev:i386 and i686-linux-gnu-g++:
#   cmake -S . -B build/musl-i386 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/musl-i386.cmake -DHORNSET_STATIC=ON
set(hornset_musl_triple i386-linux-musl)
set(hornset_gnu_triple i686-linux-gnu)
set(hornset_musl_processor i686)
include(${CMAKE_CURRENT_LIST_DIR}/musl.cmake)
