# Cross-compiling for the architecture armhf of targets.tsv with Debian's cross compiler:
#   cmake -S . -B build/board -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/armhf.cmake
set(HORNSET_TARGET armhf)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
