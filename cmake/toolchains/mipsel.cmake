# Cross-compiling for the architecture mipsel of targets.tsv with Debian's cross compiler:
#   cmake -S . -B build/board -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mipsel.cmake
set(HORNSET_TARGET mipsel)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
