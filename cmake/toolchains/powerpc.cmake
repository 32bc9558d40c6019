# Cross-compiling for the board powerpc of boards.tsv with Debian's cross compiler:
#   cmake -S . -B build/board -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/powerpc.cmake
set(HORNSET_BOARD powerpc)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
