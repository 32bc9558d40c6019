// The errno names board.conf, hornemu's options, the log and the account use: those a test
// would inject, and those the emulated board and a file in the node's place answer with.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view> // std::begin and std::end, without <iterator>'s streams

namespace hornemu {

struct errno_row {
    int value;
    const char* name;
};

// NOLINTNEXTLINE(cppcoreguidelines-macro-usage): the name is the macro's own spelling
#define HORNEMU_ERRNO(name)                                                                        \
    { name, #name }

inline constexpr errno_row errno_table[] = {
    HORNEMU_ERRNO(EPERM),  HORNEMU_ERRNO(ENOENT),  HORNEMU_ERRNO(EINTR),
    HORNEMU_ERRNO(EIO),    HORNEMU_ERRNO(ENXIO),   HORNEMU_ERRNO(EBADF),
    HORNEMU_ERRNO(EAGAIN), HORNEMU_ERRNO(ENOMEM),  HORNEMU_ERRNO(EACCES),
    HORNEMU_ERRNO(EFAULT), HORNEMU_ERRNO(EBUSY),   HORNEMU_ERRNO(EEXIST),
    HORNEMU_ERRNO(ENODEV), HORNEMU_ERRNO(ENOTDIR), HORNEMU_ERRNO(EISDIR),
    HORNEMU_ERRNO(ENFILE), HORNEMU_ERRNO(EINVAL),  HORNEMU_ERRNO(EMFILE),
    HORNEMU_ERRNO(ENOTTY), HORNEMU_ERRNO(ENOSPC),  HORNEMU_ERRNO(ESPIPE),
    HORNEMU_ERRNO(EROFS),  HORNEMU_ERRNO(EPIPE),   HORNEMU_ERRNO(ETIMEDOUT),
    HORNEMU_ERRNO(ENOSYS), HORNEMU_ERRNO(ELOOP),   HORNEMU_ERRNO(EOPNOTSUPP),
};

// The name of an errno value ("EIO"), or nullptr.
inline const char* errno_name(int value) {
    const auto* row =
        std::find_if(std::begin(errno_table), std::end(errno_table),
                     [value](const errno_row& entry) { return entry.value == value; });
    return row != std::end(errno_table) ? row->name : nullptr;
}

// An errno given by name ("EIO") or as a decimal number from 1 to 4095; 0 when it is neither.
inline int errno_parse(const char* text, size_t length) {
    int value = 0;
    for (size_t at = 0; at < length && value <= 4095; ++at) {
        value = text[at] >= '0' && text[at] <= '9' ? value * 10 + text[at] - '0' : 4096;
    }
    for (const errno_row& row : errno_table) {
        if (std::strlen(row.name) == length && std::memcmp(row.name, text, length) == 0) {
            return row.value;
        }
    }
    return length > 0 && value <= 4095 ? value : 0;
}

} // namespace hornemu
