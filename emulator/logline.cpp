#include "logline.h"

#include "errnames.h"
#include "scenario.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>

namespace hornemu {
namespace {

char hex_digit(unsigned value) {
    return static_cast<char>(value < 10 ? '0' + value : 'a' + value - 10);
}

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
    put(words, std::strlen(words));
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
    char* at = digits + sizeof digits;
    do {
        *--at = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    put(at, static_cast<size_t>(digits + sizeof digits - at));
    return *this;
}

log_line& log_line::hex_bytes(const void* bytes, size_t length) {
    const auto* data = static_cast<const unsigned char*>(bytes);
    for (const unsigned char* at = data; at != data + length; ++at) {
        const char pair[2] = {hex_digit(*at >> 4U), hex_digit(*at & 15U)};
        put(pair, 2);
    }
    return *this;
}

log_line& log_line::hex32(uint32_t value) {
    return text("0x").hex(value, 8);
}

log_line& log_line::hex(uint32_t value, unsigned digits) {
    unsigned shift = 32;
    while (shift > 4 * digits && (value >> (shift - 4)) == 0) {
        shift -= 4;
    }
    while (shift != 0) {
        shift -= 4;
        const char digit = hex_digit(value >> shift & 15U);
        put(&digit, 1);
    }
    return *this;
}

log_line& log_line::escaped(const char* words) {
    for (const char* at = words; *at != '\0'; ++at) {
        const auto byte = static_cast<unsigned char>(*at);
        if (byte > ' ' && byte < 0x7f && byte != '\\') {
            put(at, 1);
        } else {
            const char escape[4] = {'\\', 'x', hex_digit(byte >> 4U), hex_digit(byte & 15U)};
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
        const auto bits = static_cast<unsigned>(flag.bits);
        if ((all & bits) != bits || (flag.bits == O_DSYNC && sync)) {
            continue;
        }
        text("|").text(flag.name);
        shown |= bits;
    }
    const unsigned rest = all & ~shown;
    return rest != 0 ? text("|0x").hex(rest, 1) : *this;
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
}

void log_line::put(const char* bytes, size_t length) {
    while (length > 0) {
        if (length_ == sizeof buffer_) {
            flush();
        }
        const size_t part = std::min(length, sizeof buffer_ - length_);
        std::memcpy(buffer_ + length_, bytes, part);
        length_ += part;
        bytes += part;
        length -= part;
    }
}

void log_line::flush() {
    append_scenario_file(file_, buffer_, length_);
    length_ = 0;
}

} // namespace hornemu
