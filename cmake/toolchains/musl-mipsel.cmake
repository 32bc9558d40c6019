# Building against musl for the architecture mipsel of targets.tsv, with Debian's musl-dev:
#   cmake -S . -B build/musl-mipsel -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/musl-mipsel.cmake -DHORNSET_STATIC=ON
set(HORNSET_TARGET mipsel)
include(${CMAKE_CURRENT_LIST_DIR}/musl.cmake)
