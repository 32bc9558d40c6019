# Building against musl for the architecture x86_64 of targets.tsv, with Debian's musl-dev:
#   cmake -S . -B build/musl-x86_64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/musl-x86_64.cmake -DHORNSET_STATIC=ON
set(HORNSET_TARGET x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/musl.cmake)
