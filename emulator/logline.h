// One line of a scenario file (the log, unless another is named), built in a fixed buffer and
// appended with the real open and write (O_APPEND), never through stdio. Lines longer than the
// buffer are written in several pieces.
#pragma once

#include <cstddef>
#include <cstdint>

namespace hornemu {

class log_line {
  public:
    explicit log_line(const char* file = "log") : file_(file) {}

    log_line& text(const char* words);
    log_line& decimal(long value);
    log_line& unsigned_decimal(size_t value);
    log_line& hex_bytes(const void* bytes, size_t length);
    log_line& hex32(uint32_t value);      // "0x%08x"
    log_line& escaped(const char* words); // bytes outside '!'..'~' and '\\' as \xNN
    log_line& open_flags(int flags);
    // "ENAME", or "errno N" for a value the errno table lacks.
    log_line& error(int value);
    // " -> " and the result: the value, or "-1 ENAME" when error is not 0.
    log_line& result(long value, int error_value);
    // Ends the line with '\n' and writes what is left of it.
    void finish();

  private:
    // value in lower-case hex digits, at least digits of them.
    log_line& hex(uint32_t value, unsigned digits);
    void put(const char* bytes, size_t length);
    void flush();

    const char* file_;
    char buffer_[4096] = {};
    size_t length_ = 0;
};

} // namespace hornemu
