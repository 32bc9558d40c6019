# Cross-compiling for the architecture powerpc of targets.tsv with Debian's cross compiler:
#   cmake -S . -B build/board -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/powerpc.cmake
set(HORNSET_TARGET powerpc)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
