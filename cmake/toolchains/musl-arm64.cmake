# Building against musl for the architecture arm64 of targets.tsv, with Debian's musl-dev:
#   cmake -S . -B build/musl-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/musl-arm64.cmake -DHORNSET_STATIC=ON
set(HORNSET_TARGET arm64)
include(${CMAKE_CURRENT_LIST_DIR}/musl.cmake)
