# Building against musl for the board armel of boards.tsv, with Debian's musl-dev:
#   cmake -S . -B build/musl-armel -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/musl-armel.cmake -DHORNSET_STATIC=ON
set(HORNSET_BOARD armel)
include(${CMAKE_CURRENT_LIST_DIR}/musl.cmake)
