#include "logline.h"

#include "errnames.h"
#include "real.h"
#include "scenario.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>

namespace hornemu {
namespace {

constexpr char hex_digits[] = "0123456789abcdef";

struct flag_name {
    int bits;
    const char* name;
};

constexpr flag_name open_flag_names[] = {
    {O_CREAT, "O_CREAT"},         {O_EXCL, "O_EXCL"},         {O_NOCTTY, "O_NOCTTY"},
    {O_TRUNC, "O_TRUNC"},         {O_APPEND, "O_APPEND"},     {O_NONBLOCK, "O_NONBLOCK"},
    {O_DSYNC, "O_DSYNC"},         {O_SYNC, "O_SYNC"},         {O_CLOEXEC, "O_CLOEXEC"},
    {O_DIRECTORY, "O_DIRECTORY"}, {O_NOFOLLOW, "O_NOFOLLOW"},
};

} // namespace

log_line& log_line::text(const char* words) {
    put(words, strlen(words));
    return *this;
}

log_line& log_line::decimal(long value) {
    if (value < 0) {
        text("-");
        return unsigned_decimal(0U - static_cast<size_t>(value));
    }
    return unsigned_decimal(static_cast<size_t>(value));
}

log_line& log_line::unsigned_decimal(size_t value) {
    char digits[24];
    size_t at = sizeof digits;
    do {
        digits[--at] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    put(digits + at, sizeof digits - at);
    return *this;
}

log_line& log_line::hex_bytes(const void* bytes, size_t length) {
    const unsigned char* data = static_cast<const unsigned char*>(bytes);
    for (size_t i = 0; i < length; ++i) {
        const char pair[2] = {hex_digits[data[i] >> 4], hex_digits[data[i] & 15]};
        put(pair, 2);
    }
    return *this;
}

log_line& log_line::hex32(uint32_t value) {
    char digits[10] = {'0', 'x'};
    for (int i = 0; i < 8; ++i) {
        digits[2 + i] = hex_digits[(value >> (28 - 4 * i)) & 15];
    }
    put(digits, sizeof digits);
    return *this;
}

log_line& log_line::escaped(const char* words) {
    for (const char* at = words; *at != '\0'; ++at) {
        const unsigned char byte = static_cast<unsigned char>(*at);
        if (byte > ' ' && byte < 0x7f && byte != '\\') {
            put(at, 1);
        } else {
            const char escape[4] = {'\\', 'x', hex_digits[byte >> 4], hex_digits[byte & 15]};
            put(escape, 4);
        }
    }
    return *this;
}

log_line& log_line::open_flags(int flags) {
    const int access = flags & O_ACCMODE;
    text(access == O_RDONLY   ? "O_RDONLY"
         : access == O_WRONLY ? "O_WRONLY"
         : access == O_RDWR   ? "O_RDWR"
                              : "O_ACCMODE");
    const unsigned all = static_cast<unsigned>(flags) & ~static_cast<unsigned>(O_ACCMODE);
    // O_SYNC includes the bits of O_DSYNC: a synchronous open shows as O_SYNC alone.
    const bool sync = (all & static_cast<unsigned>(O_SYNC)) == static_cast<unsigned>(O_SYNC);
    unsigned shown = 0;
    for (const flag_name& flag : open_flag_names) {
        const unsigned bits = static_cast<unsigned>(flag.bits);
        if ((all & bits) != bits || (flag.bits == O_DSYNC && sync)) {
            continue;
        }
        text("|").text(flag.name);
        shown |= bits;
    }
    unsigned rest = all & ~shown;
    if (rest != 0) {
        char digits[10];
        size_t at = sizeof digits;
        while (rest != 0) {
            digits[--at] = hex_digits[rest & 15];
            rest >>= 4;
        }
        text("|0x");
        put(digits + at, sizeof digits - at);
    }
    return *this;
}

log_line& log_line::error(int value) {
    const char* name = errno_name(value);
    if (name != nullptr) {
        return text(name);
    }
    return text("errno ").decimal(static_cast<long>(value));
}

log_line& log_line::result(long value, int error_value) {
    text(" -> ");
    if (error_value != 0) {
        return text("-1 ").error(error_value);
    }
    return decimal(value);
}

void log_line::finish() {
    put("\n", 1);
    flush();
    real::close(fd_);
    fd_ = -1;
}

void log_line::put(const char* bytes, size_t length) {
    while (length > 0) {
        if (length_ == sizeof buffer_) {
            flush();
        }
        const size_t room = sizeof buffer_ - length_;
        const size_t part = length < room ? length : room;
        memcpy(buffer_ + length_, bytes, part);
        length_ += part;
        bytes += part;
        length -= part;
    }
}

void log_line::flush() {
    char path[path_max];
    if (fd_ < 0) {
        fd_ =
            real::open(scenario_path(path, "log"), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ < 0) {
            fatal("cannot open ", path, strerror(errno));
        }
    }
    for (size_t done = 0; done < length_;) {
        const ssize_t wrote = real::write(fd_, buffer_ + done, length_ - done);
        if (wrote < 0 && errno != EINTR) {
            fatal("cannot write the log: ", strerror(errno));
        }
        done += wrote > 0 ? static_cast<size_t>(wrote) : 0;
    }
    length_ = 0;
}

} // namespace hornemu
