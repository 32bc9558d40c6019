# Cross-compiling for the board riscv64 of boards.tsv with Debian's cross compiler:
#   cmake -S . -B build/board -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/riscv64.cmake
set(HORNSET_BOARD riscv64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
