# Cross-compiling for the architecture arm64 of targets.tsv with Debian's cross compiler:
#   cmake -S . -B build/board -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/arm64.cmake
set(HORNSET_TARGET arm64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
