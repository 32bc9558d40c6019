# Cross-compiling for the architecture i386 of targets.tsv with Debian's cross compiler:
#   cmake -S . -B build/board -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/i386.cmake
set(HORNSET_TARGET i386)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
