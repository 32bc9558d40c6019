# Cross-compiling for the board i386 of boards.tsv with Debian's cross compiler:
#   cmake -S . -B build/board -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/i386.cmake
set(HORNSET_BOARD i386)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
