// The records of the scenario's log, as hornemu's account and the tests read and write them:
//
//   OP PATH [KEY=VALUE ...] [-> RESULT [KEY=VALUE ...]]
//
// OP is open, close, dup, write, read or ioctl; RESULT is "ok", a number, "-1 ENAME", or for a
// failed open or duplicate "ENAME" alone, ENAME being an errno's name or "errno N". The
// interposer writes them (logline.h, without the C++ library); this is their one parser.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hornemu {

struct log_field {
    std::string key;
    std::string value;
};

struct log_record {
    std::string op;
    std::string path;
    std::vector<log_field> fields;        // before the arrow
    std::optional<std::string> result;    // after it, up to its own fields
    std::vector<log_field> result_fields; // after the result: fd=, data=, word=
};

// The value of a field before the arrow, or after the result; empty when there is none.
std::string_view field(const log_record& record, std::string_view key);
std::string_view result_field(const log_record& record, std::string_view key);
// A failure: "-1" with or without an errno, or an errno alone.
bool failed(const log_record& record);
// The errno of a failure, by name or number, when the record has one.
std::optional<int> error_of(const log_record& record);

// One line of the log, without its newline; nothing when it is not a record.
std::optional<log_record> parse_log_record(std::string_view line);

// The line of a record, without its newline.
std::string to_string(const log_record& record);

// Bytes as lower-case hex digits, as the log holds them, and back (nothing for bad digits).
std::string hex_encode(std::string_view bytes);
std::optional<std::string> hex_decode(std::string_view digits);

} // namespace hornemu
