# Cross-compiling for the board mipsel of boards.tsv with Debian's cross compiler:
#   cmake -S . -B build/board -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mipsel.cmake
set(HORNSET_BOARD mipsel)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
