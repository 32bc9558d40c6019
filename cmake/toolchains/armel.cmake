# Cross-compiling for the architecture armel of targets.tsv with Debian's cross compiler:
#   cmake -S . -B build/board -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/armel.cmake
set(HORNSET_TARGET armel)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
