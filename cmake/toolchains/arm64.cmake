# Cross-compiling for the board arm64 of boards.tsv with Debian's cross compiler:
#   cmake -S . -B build/board -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/arm64.cmake
set(HORNSET_BOARD arm64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
