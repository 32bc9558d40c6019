#include "errnames.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace hornemu {
namespace {

struct errno_row {
    int value;
    const char* name;
};

// An errno and its name, spelled once.
// NOLINTNEXTLINE(cppcoreguidelines-macro-usage): the name is the macro's spelling
#define ERRNO_ROW(name)                                                                            \
    { name, #name }

// Canonical names come before their aliases, so that a value prints as its usual name.
constexpr errno_row errno_table[] = {
    ERRNO_ROW(EPERM),     ERRNO_ROW(ENOENT),      ERRNO_ROW(ESRCH),        ERRNO_ROW(EINTR),
    ERRNO_ROW(EIO),       ERRNO_ROW(ENXIO),       ERRNO_ROW(E2BIG),        ERRNO_ROW(ENOEXEC),
    ERRNO_ROW(EBADF),     ERRNO_ROW(ECHILD),      ERRNO_ROW(EAGAIN),       ERRNO_ROW(ENOMEM),
    ERRNO_ROW(EACCES),    ERRNO_ROW(EFAULT),      ERRNO_ROW(EBUSY),        ERRNO_ROW(EEXIST),
    ERRNO_ROW(EXDEV),     ERRNO_ROW(ENODEV),      ERRNO_ROW(ENOTDIR),      ERRNO_ROW(EISDIR),
    ERRNO_ROW(EINVAL),    ERRNO_ROW(ENFILE),      ERRNO_ROW(EMFILE),       ERRNO_ROW(ENOTTY),
    ERRNO_ROW(ETXTBSY),   ERRNO_ROW(EFBIG),       ERRNO_ROW(ENOSPC),       ERRNO_ROW(ESPIPE),
    ERRNO_ROW(EROFS),     ERRNO_ROW(EMLINK),      ERRNO_ROW(EPIPE),        ERRNO_ROW(EDOM),
    ERRNO_ROW(ERANGE),    ERRNO_ROW(EDEADLK),     ERRNO_ROW(ENAMETOOLONG), ERRNO_ROW(ENOSYS),
    ERRNO_ROW(ELOOP),     ERRNO_ROW(ENODATA),     ERRNO_ROW(ETIME),        ERRNO_ROW(EPROTO),
    ERRNO_ROW(EOVERFLOW), ERRNO_ROW(EILSEQ),      ERRNO_ROW(EOPNOTSUPP),   ERRNO_ROW(ETIMEDOUT),
    ERRNO_ROW(EALREADY),  ERRNO_ROW(EINPROGRESS), ERRNO_ROW(ECANCELED),    ERRNO_ROW(EDQUOT),
    ERRNO_ROW(EHOSTDOWN), ERRNO_ROW(EREMOTEIO),   ERRNO_ROW(EWOULDBLOCK),  ERRNO_ROW(ENOTSUP),
    ERRNO_ROW(EDEADLOCK)};

} // namespace

const char* errno_name(int value) {
    const errno_row* const end = errno_table + sizeof errno_table / sizeof *errno_table;
    const errno_row* row = std::find_if(
        errno_table, end, [value](const errno_row& entry) { return entry.value == value; });
    return row != end ? row->name : nullptr;
}

int errno_parse(const char* text, size_t length) {
    if (length == 0) {
        return 0;
    }
    if (text[0] >= '0' && text[0] <= '9') {
        int value = 0;
        for (size_t i = 0; i < length; ++i) {
            if (text[i] < '0' || text[i] > '9' || value > 4095) {
                return 0;
            }
            value = value * 10 + (text[i] - '0');
        }
        return value >= 1 && value <= 4095 ? value : 0;
    }
    for (const errno_row& row : errno_table) {
        if (std::strlen(row.name) == length && std::memcmp(row.name, text, length) == 0) {
            return row.value;
        }
    }
    return 0;
}

} // namespace hornemu
