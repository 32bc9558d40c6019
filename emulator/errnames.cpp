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

// Canonical names come before their aliases, so that a value prints as its usual name.
constexpr errno_row errno_table[] = {
    {EPERM, "EPERM"},
    {ENOENT, "ENOENT"},
    {ESRCH, "ESRCH"},
    {EINTR, "EINTR"},
    {EIO, "EIO"},
    {ENXIO, "ENXIO"},
    {E2BIG, "E2BIG"},
    {ENOEXEC, "ENOEXEC"},
    {EBADF, "EBADF"},
    {ECHILD, "ECHILD"},
    {EAGAIN, "EAGAIN"},
    {ENOMEM, "ENOMEM"},
    {EACCES, "EACCES"},
    {EFAULT, "EFAULT"},
    {EBUSY, "EBUSY"},
    {EEXIST, "EEXIST"},
    {EXDEV, "EXDEV"},
    {ENODEV, "ENODEV"},
    {ENOTDIR, "ENOTDIR"},
    {EISDIR, "EISDIR"},
    {EINVAL, "EINVAL"},
    {ENFILE, "ENFILE"},
    {EMFILE, "EMFILE"},
    {ENOTTY, "ENOTTY"},
    {ETXTBSY, "ETXTBSY"},
    {EFBIG, "EFBIG"},
    {ENOSPC, "ENOSPC"},
    {ESPIPE, "ESPIPE"},
    {EROFS, "EROFS"},
    {EMLINK, "EMLINK"},
    {EPIPE, "EPIPE"},
    {EDOM, "EDOM"},
    {ERANGE, "ERANGE"},
    {EDEADLK, "EDEADLK"},
    {ENAMETOOLONG, "ENAMETOOLONG"},
    {ENOSYS, "ENOSYS"},
    {ELOOP, "ELOOP"},
    {ENODATA, "ENODATA"},
    {ETIME, "ETIME"},
    {EPROTO, "EPROTO"},
    {EOVERFLOW, "EOVERFLOW"},
    {EILSEQ, "EILSEQ"},
    {EOPNOTSUPP, "EOPNOTSUPP"},
    {ETIMEDOUT, "ETIMEDOUT"},
    {EALREADY, "EALREADY"},
    {EINPROGRESS, "EINPROGRESS"},
    {ECANCELED, "ECANCELED"},
    {EDQUOT, "EDQUOT"},
    {EHOSTDOWN, "EHOSTDOWN"},
    {EREMOTEIO, "EREMOTEIO"},
    {EWOULDBLOCK, "EWOULDBLOCK"},
    {ENOTSUP, "ENOTSUP"},
    {EDEADLOCK, "EDEADLOCK"},
};

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
