# Cross-compiling for the architecture riscv64 of targets.tsv with Debian's cross compiler:
#   cmake -S . -B build/board -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/riscv64.cmake
set(HORNSET_TARGET riscv64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
