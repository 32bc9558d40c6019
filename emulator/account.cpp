#include "account.h"

#include "errnames.h"
#include "logrecord.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>

namespace hornemu {
namespace {

void say(const std::string& line) {
    std::fputs(("hornemu: " + line + "\n").c_str(), stderr);
}

std::string hex8(uint32_t value, int digits) {
    std::array<char, 16> text{};
    std::snprintf(text.data(), text.size(), "0x%0*x", digits, value);
    return text.data();
}

// Bytes as a quoted string, '"' and '\\' escaped, other non-printable bytes as \xNN.
std::string quoted(const std::string& bytes) {
    std::string text = "\"";
    for (const char byte : bytes) {
        const auto value = static_cast<unsigned char>(byte);
        if (byte == '"' || byte == '\\') {
            text += '\\';
            text += byte;
        } else if (value >= 0x20 && value < 0x7f) {
            text += byte;
        } else {
            text += "\\x" + hex8(value, 2).substr(2);
        }
    }
    return text + '"';
}

// "EIO (errno 5, Input/output error)", "errno 4095 (Unknown error 4095)".
std::string error_text(int error) {
    const char* name = errno_name(error);
    const std::string number = "errno " + std::to_string(error);
    return name != nullptr ? std::string(name) + " (" + number + ", " + std::strerror(error) + ")"
                           : number + " (" + std::strerror(error) + ")";
}

// What a failed operation met: its errno, or a -1 that came without one.
std::string failure(const log_record& record) {
    const std::optional<int> error = error_of(record);
    return error ? "FAILED: " + error_text(*error) : "returned -1 without an errno";
}

// " as descriptor N (standard ...)" for "fd=N", which the log gives for 0, 1 and 2 only.
std::string descriptor(const char* preposition, std::string_view fd) {
    constexpr std::array<const char*, 3> streams = {"standard input", "standard output",
                                                    "standard error"};
    if (fd.size() != 1 || fd.front() < '0' || fd.front() > '2') {
        return "";
    }
    const auto number = static_cast<size_t>(fd.front() - '0');
    return std::string(" ") + preposition + " descriptor " + std::string(fd) + " (" +
           streams.at(number) + ")";
}

std::string bytes_of(std::string_view hex) {
    return quoted(hex_decode(hex).value_or("?"));
}

std::string told_open(const log_record& record) {
    if (failed(record)) {
        return "open " + failure(record);
    }
    const std::string_view mode = field(record, "mode");
    const std::string how =
        mode.empty() ? std::string(field(record, "flags")) : "mode " + std::string(mode);
    return "opened (" + how + ")" + descriptor("as", result_field(record, "fd"));
}

std::string told_close(const log_record& record) {
    return "closed" + descriptor("on", field(record, "fd")) +
           (failed(record) ? ", " + failure(record) : "");
}

std::string told_dup(const log_record& record) {
    return "duplicated" + descriptor("from", field(record, "fd")) +
           (failed(record) ? ", " + failure(record)
                           : descriptor("onto", result_field(record, "fd")));
}

std::string told_write(const log_record& record) {
    const std::string count(field(record, "count"));
    const std::string told =
        "received command " + bytes_of(field(record, "data")) + " (" + count + " bytes), ";
    if (failed(record)) {
        return told + "write " + failure(record);
    }
    return told +
           (record.result == count ? "accepted" : "but the write returned " + *record.result);
}

std::string told_read(const log_record& record) {
    const std::string told =
        "status read (up to " + std::string(field(record, "count")) + " bytes), ";
    if (failed(record)) {
        return told + failure(record);
    }
    if (record.result == "0") {
        return told + "returned 0 bytes";
    }
    const std::string data = bytes_of(result_field(record, "data"));
    // A driver may report more than was asked for; the program received count bytes at most.
    if (std::stoull(*record.result) > std::stoull(std::string(field(record, "count")))) {
        return told + "returned " + *record.result + " bytes, more than asked for: " + data;
    }
    return told + "replied " + *record.result + " bytes: " + data;
}

std::string told_ioctl(const log_record& record) {
    const std::string number(field(record, "request"));
    const unsigned long request = std::strtoul(number.c_str(), nullptr, 16);
    // Told apart by type 'k' and number, which hold on every architecture.
    const bool ours = (request >> 8U & 0xffU) == 'k';
    const bool set = ours && (request & 0xffU) == 1;
    const bool get = ours && (request & 0xffU) == 2;
    std::string told = (set ? "set" : get ? "get" : "unknown") + std::string(" request ") + number;
    if (set) {
        const std::string word(field(record, "word"));
        const unsigned long value = std::strtoul(word.c_str(), nullptr, 16);
        told += ", word " + word + " (off time " + std::to_string(value >> 16U & 0xffU) +
                ", on time " + std::to_string(value >> 8U & 0xffU) + ", count " +
                std::to_string(value & 0xffU) +
                (value >> 24U != 0 ? ", top byte " + hex8(static_cast<uint32_t>(value >> 24U), 2)
                                   : "") +
                ")";
    }
    if (failed(record)) {
        return told + ", " + failure(record);
    }
    if (record.result != "0") {
        return told + ", returned " + record.result.value_or("nothing");
    }
    if (get) {
        const std::string_view answer = result_field(record, "word");
        return told + (answer.empty() ? ", returned 0 without filling the word"
                                      : ", answered word " + std::string(answer));
    }
    return told;
}

// How each operation is told, and whether it reached the driver. (cppcheck misses the uses of
// the members, through find_if below.)
struct teller {
    const char* op;
    // cppcheck-suppress unusedStructMember
    std::string (*tell)(const log_record&);
    // cppcheck-suppress unusedStructMember
    bool reaches_driver;
};
constexpr std::array<teller, 6> tellers = {{
    {"open", told_open, false},
    {"close", told_close, false},
    {"dup", told_dup, false},
    {"write", told_write, true},
    {"read", told_read, true},
    {"ioctl", told_ioctl, true},
}};

} // namespace

log_summary tell_log(std::istream& log) {
    log_summary summary;
    for (std::string line; std::getline(log, line);) {
        summary.touched = true;
        const std::optional<log_record> record = parse_log_record(line);
        const auto* found =
            std::find_if(tellers.begin(), tellers.end(), [&record](const teller& candidate) {
                return record && record->op == candidate.op;
            });
        if (found == tellers.end()) {
            say("log line not understood: " + line);
            continue;
        }
        say(record->path + ": " + found->tell(*record));
        summary.reached = summary.reached || found->reaches_driver;
    }
    return summary;
}

void tell_node_file(long long size, const std::string& first_bytes) {
    say("/dev/hornio: " + std::to_string(size) + " bytes landed in the node's file: " +
        quoted(first_bytes) + (size > static_cast<long long>(first_bytes.size()) ? "..." : ""));
}

} // namespace hornemu
