// The records of the scenario's log, as hornemu's account and the tests read them:
//
//   OP PATH [KEY=VALUE ...] [-> RESULT [KEY=VALUE ...]]
//
// OP is open, close, dup, write, read or ioctl; RESULT is "ok", a number, "-1 ENAME", or for a
// failed open or duplicate "ENAME" alone, ENAME being an errno's name or "errno N". The
// interposer writes them (log_line in board.h, without the C++ library).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace hornemu {

using log_fields = std::vector<std::pair<std::string, std::string>>;

struct log_record {
    std::string op;
    std::string path;
    log_fields fields;                 // before the arrow
    std::optional<std::string> result; // after it, up to its own fields
    log_fields result_fields;          // after the result: fd=, data=, word=
};

// The value of a field before the arrow (or after the result); empty when there is none.
std::string_view field(const log_record& record, std::string_view key, bool after = false);

// One line of the log, without its newline; nothing when it is not a record.
std::optional<log_record> parse_log_record(std::string_view line);

// Bytes as lower-case hex digits, as the log holds them, and back (nothing for bad digits).
std::string hex_encode(std::string_view bytes);
std::optional<std::string> hex_decode(std::string_view digits);

} // namespace hornemu
