// The records of the scenario's log, as the tests read them:
//
//   OP PATH [KEY=VALUE ...] [-> RESULT [KEY=VALUE ...]]
//
// OP is open, close, dup, write, read or ioctl; RESULT is "ok", a number, "-1 ENAME", or for a
// failed open or duplicate "ENAME" alone, ENAME being an errno's name or "errno N". The
// interposer writes them (log_line in interpose.cpp, without the C++ library).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace hornemu {

struct log_record {
    std::string op;
    std::string path;
    std::vector<std::pair<std::string, std::string>> fields; // before the arrow
    std::optional<std::string> result;                       // all after the arrow
};

// The value of a field before the arrow; empty when there is none.
std::string_view field(const log_record& record, std::string_view key);

// One line of the log, without its newline; nothing when it is not a record.
std::optional<log_record> parse_log_record(std::string_view line);

// Bytes as lower-case hex digits, as the log holds them, and back (nothing for bad digits).
std::string hex_encode(std::string_view bytes);
std::optional<std::string> hex_decode(std::string_view digits);

// Bytes in double quotes, '"' and '\\' escaped, other bytes outside ' '..'~' as \xNN.
std::string in_quotes(std::string_view bytes);

} // namespace hornemu
