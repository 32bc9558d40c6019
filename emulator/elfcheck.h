// What hornemu checks of a program before it runs it: whether the interposer can reach it.
#pragma once

#include <optional>
#include <string>

namespace hornemu {

enum class program_kind {
    dynamic,    // an ELF program with an interpreter (PT_INTERP): the interposer reaches it
    static_elf, // an ELF program without one: the interposer cannot reach it
    other,      // not ELF (a script, for instance): left to the kernel to run or refuse
    unreadable  // errno tells why
};

// Reads the ELF header and program headers of path, 32- or 64-bit, either byte order.
program_kind examine_program(const std::string& path);

// Why the loader would run path in secure mode (AT_SECURE), where it ignores LD_PRELOAD, when
// this process started it: set-user-ID or set-group-ID to another user or group than this
// process's real ones, file capabilities, or this process itself running with another
// effective user or group than its real one ("is set-user-ID (owner 0)", "has file
// capabilities"). Nothing when it would not.
std::optional<std::string> secure_mode(const std::string& path);

} // namespace hornemu
