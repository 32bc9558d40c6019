# Cross-compiling for the architecture ppc64el of targets.tsv with Debian's cross compiler:
#   cmake -S . -B build/board -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/ppc64el.cmake
set(HORNSET_TARGET ppc64el)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
