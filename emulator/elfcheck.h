// Tells a statically linked program from a dynamically linked one by its ELF program headers.
#pragma once

namespace hornemu {

enum class program_kind {
    dynamic,    // an ELF program with an interpreter (PT_INTERP): the interposer reaches it
    static_elf, // an ELF program without one: the interposer cannot reach it
    other,      // not ELF (a script, for instance): left to the kernel to run or refuse
    unreadable  // errno tells why
};

// Reads the ELF header and program headers of path, 32- or 64-bit, either byte order.
program_kind examine_program(const char* path);

} // namespace hornemu
