# Building against musl for the architecture armhf of targets.tsv, with Debian's musl-dev:
#   cmake -S . -B build/musl-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/musl-armhf.cmake -DHORNSET_STATIC=ON
set(HORNSET_TARGET armhf)
include(${CMAKE_CURRENT_LIST_DIR}/musl.cmake)
