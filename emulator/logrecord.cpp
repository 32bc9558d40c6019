#include "logrecord.h"

#include "errnames.h"

#include <algorithm>
#include <cstddef>

namespace hornemu {
namespace {

std::vector<std::string_view> words_of(std::string_view line) {
    std::vector<std::string_view> words;
    while (!line.empty()) {
        const size_t end = line.find(' ');
        words.push_back(line.substr(0, end));
        line.remove_prefix(end == std::string_view::npos ? line.size() : end + 1);
    }
    return words;
}

std::optional<log_field> field_of(std::string_view word) {
    const size_t equals = word.find('=');
    if (equals == std::string_view::npos || equals == 0) {
        return std::nullopt;
    }
    return log_field{std::string(word.substr(0, equals)), std::string(word.substr(equals + 1))};
}

void append_fields(std::string& line, const std::vector<log_field>& fields) {
    for (const log_field& entry : fields) {
        line += ' ' + entry.key + '=' + entry.value;
    }
}

std::string_view value_of(const std::vector<log_field>& fields, std::string_view key) {
    const auto found = std::find_if(fields.begin(), fields.end(),
                                    [key](const log_field& entry) { return entry.key == key; });
    return found != fields.end() ? std::string_view(found->value) : std::string_view();
}

} // namespace

std::string_view field(const log_record& record, std::string_view key) {
    return value_of(record.fields, key);
}

std::string_view result_field(const log_record& record, std::string_view key) {
    return value_of(record.result_fields, key);
}

bool failed(const log_record& record) {
    const std::optional<std::string>& result = record.result;
    return result &&
           (*result == "-1" || result->rfind("-1 ", 0) == 0 || error_of(record).has_value());
}

std::optional<int> error_of(const log_record& record) {
    if (!record.result) {
        return std::nullopt;
    }
    std::string_view name = *record.result;
    if (name.rfind("-1 ", 0) == 0) {
        name.remove_prefix(3);
    }
    if (name.rfind("errno ", 0) == 0) {
        name.remove_prefix(6);
    } else if (name.empty() || name.front() != 'E') {
        return std::nullopt;
    }
    const int value = errno_parse(name.data(), name.size());
    return value != 0 ? std::optional<int>(value) : std::nullopt;
}

std::optional<log_record> parse_log_record(std::string_view line) {
    const std::vector<std::string_view> words = words_of(line);
    if (words.size() < 2 || words[0].empty() || words[1].empty()) {
        return std::nullopt;
    }
    log_record record{std::string(words[0]), std::string(words[1]), {}, {}, {}};
    size_t at = 2;
    for (; at < words.size() && words[at] != "->"; ++at) {
        std::optional<log_field> parsed = field_of(words[at]);
        if (!parsed) {
            return std::nullopt;
        }
        record.fields.push_back(std::move(*parsed));
    }
    if (at == words.size()) {
        return record;
    }
    std::string result;
    for (++at; at < words.size() && !field_of(words[at]); ++at) {
        result += (result.empty() ? "" : " ") + std::string(words[at]);
    }
    if (result.empty()) {
        return std::nullopt;
    }
    record.result = result;
    for (; at < words.size(); ++at) {
        std::optional<log_field> parsed = field_of(words[at]);
        if (!parsed) {
            return std::nullopt;
        }
        record.result_fields.push_back(std::move(*parsed));
    }
    return record;
}

std::string to_string(const log_record& record) {
    std::string line = record.op + ' ' + record.path;
    append_fields(line, record.fields);
    if (record.result) {
        line += " -> " + *record.result;
        append_fields(line, record.result_fields);
    }
    return line;
}

std::string hex_encode(std::string_view bytes) {
    constexpr std::string_view digits = "0123456789abcdef";
    std::string text;
    text.reserve(2 * bytes.size());
    for (const char byte : bytes) {
        const auto value = static_cast<unsigned char>(byte);
        text += digits.at(value >> 4U);
        text += digits.at(value & 15U);
    }
    return text;
}

std::optional<std::string> hex_decode(std::string_view digits) {
    constexpr std::string_view alphabet = "0123456789abcdef";
    if (digits.size() % 2 != 0) {
        return std::nullopt;
    }
    std::string bytes;
    for (size_t at = 0; at < digits.size(); at += 2) {
        const size_t high = alphabet.find(digits.at(at));
        const size_t low = alphabet.find(digits.at(at + 1));
        if (high == std::string_view::npos || low == std::string_view::npos) {
            return std::nullopt;
        }
        bytes += static_cast<char>(high * 16 + low);
    }
    return bytes;
}

} // namespace hornemu
