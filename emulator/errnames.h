// The errno names board.conf, hornemu's options, the log and the account use: those a test
// would inject, and those the emulated board and a file in the node's place answer with.
#pragma once

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <string_view>

namespace hornemu {

struct errno_row {
    int value;
    const char* name;
};

// NOLINTNEXTLINE(cppcoreguidelines-macro-usage): the name is the macro's own spelling
#define HORNEMU_ERRNO(name)                                                                        \
    { name, #name }

inline constexpr errno_row errno_table[] = {
    HORNEMU_ERRNO(EPERM),     HORNEMU_ERRNO(ENOENT),     HORNEMU_ERRNO(EINTR),
    HORNEMU_ERRNO(EIO),       HORNEMU_ERRNO(ENXIO),      HORNEMU_ERRNO(EBADF),
    HORNEMU_ERRNO(EAGAIN),    HORNEMU_ERRNO(ENOMEM),     HORNEMU_ERRNO(EACCES),
    HORNEMU_ERRNO(EFAULT),    HORNEMU_ERRNO(EBUSY),      HORNEMU_ERRNO(ENODEV),
    HORNEMU_ERRNO(EINVAL),    HORNEMU_ERRNO(EMFILE),     HORNEMU_ERRNO(ENOTTY),
    HORNEMU_ERRNO(ENOSPC),    HORNEMU_ERRNO(EPIPE),      HORNEMU_ERRNO(ENOSYS),
    HORNEMU_ERRNO(ETIMEDOUT), HORNEMU_ERRNO(EOPNOTSUPP),
};

// The name of an errno value ("EIO"), or nullptr.
inline const char* errno_name(int value) {
    const auto* row =
        std::find_if(std::begin(errno_table), std::end(errno_table),
                     [value](const errno_row& entry) { return entry.value == value; });
    return row != std::end(errno_table) ? row->name : nullptr;
}

// An errno given by name ("EIO") or as a decimal number from 1 to 4095; 0 when it is neither.
inline int errno_parse(std::string_view text) {
    const auto* row = std::find_if(std::begin(errno_table), std::end(errno_table),
                                   [text](const errno_row& entry) { return text == entry.name; });
    int value = 0;
    const auto [end, failed] = std::from_chars(text.data(), text.data() + text.size(), value);
    const bool number =
        end == text.data() + text.size() && failed == std::errc() && value > 0 && value <= 4095;
    return row != std::end(errno_table) ? row->value : number ? value : 0;
}

} // namespace hornemu
