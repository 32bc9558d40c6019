# Cross-compiling for the architecture mips of targets.tsv with Debian's cross compiler:
#   cmake -S . -B build/board -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mips.cmake
set(HORNSET_TARGET mips)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
