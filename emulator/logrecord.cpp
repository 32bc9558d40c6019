#include "logrecord.h"

#include <algorithm>

namespace hornemu {

std::string_view field(const log_record& record, std::string_view key) {
    const auto found = std::find_if(record.fields.begin(), record.fields.end(),
                                    [key](const auto& entry) { return entry.first == key; });
    return found != record.fields.end() ? std::string_view(found->second) : std::string_view();
}

std::optional<log_record> parse_log_record(std::string_view line) {
    const size_t arrow = line.find(" -> ");
    log_record record;
    if (arrow != std::string_view::npos) {
        record.result = line.substr(arrow + 4);
        line = line.substr(0, arrow);
    }
    for (size_t words = 0; !line.empty(); ++words) {
        const std::string word(line.substr(0, line.find(' ')));
        line.remove_prefix(std::min(word.size() + 1, line.size()));
        const size_t equals = word.find('=');
        if (word.empty() || (words >= 2 && (equals == std::string::npos || equals == 0))) {
            return std::nullopt;
        }
        if (words == 0) {
            record.op = word;
        } else if (words == 1) {
            record.path = word;
        } else {
            record.fields.emplace_back(word.substr(0, equals), word.substr(equals + 1));
        }
    }
    const bool valid = !record.path.empty() && (!record.result || !record.result->empty());
    return valid ? std::optional<log_record>(record) : std::nullopt;
}

constexpr std::string_view alphabet = "0123456789abcdef";

std::string hex_encode(std::string_view bytes) {
    std::string text;
    for (const char byte : bytes) {
        text += alphabet.at(static_cast<unsigned char>(byte) >> 4U);
        text += alphabet.at(static_cast<unsigned char>(byte) & 15U);
    }
    return text;
}

std::optional<std::string> hex_decode(std::string_view digits) {
    std::string bytes;
    for (size_t at = 0; at + 1 < digits.size(); at += 2) {
        const size_t high = alphabet.find(digits[at]);
        const size_t low = alphabet.find(digits[at + 1]);
        if (high == std::string_view::npos || low == std::string_view::npos) {
            return std::nullopt;
        }
        bytes += static_cast<char>(high * 16 + low);
    }
    return digits.size() % 2 == 0 ? std::optional<std::string>(bytes) : std::nullopt;
}

std::string in_quotes(std::string_view bytes) {
    std::string text = "\"";
    for (const char byte : bytes) {
        const auto value = static_cast<unsigned char>(byte);
        const bool plain = value >= 0x20 && value < 0x7f;
        text += !plain                        ? "\\x" + hex_encode(std::string(1, byte))
                : byte == '"' || byte == '\\' ? std::string{'\\', byte}
                                              : std::string{byte};
    }
    return text + '"';
}

} // namespace hornemu
