# Cross-compiling for 64-bit RISC-V boards (Debian architecture riscv64)
# with Debian's riscv64-linux-gnu toolchain:
#   cmake -S . -B build/cross-riscv64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/riscv64.cmake
set(hornset_cross_triple riscv64-linux-gnu)
set(hornset_cross_processor riscv64)
set(hornset_cross_qemu qemu-riscv64-static)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
