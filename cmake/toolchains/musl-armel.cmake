# Building against musl for the architecture armel of targets.tsv, with Debian's musl-dev:
#   cmake -S . -B build/musl-armel -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/musl-armel.cmake -DHORNSET_STATIC=ON
set(HORNSET_TARGET armel)
include(${CMAKE_CURRENT_LIST_DIR}/musl.cmake)
