# Building against musl for the architecture i386 of targets.tsv, with Debian's musl-dev:
#   cmake -S . -B build/musl-i386 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/musl-i386.cmake -DHORNSET_STATIC=ON
set(HORNSET_TARGET i386)
include(${CMAKE_CURRENT_LIST_DIR}/musl.cmake)
