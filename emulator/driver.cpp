#include "driver.h"

#include "real.h"
#include "scenario.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/ioctl.h>

namespace hornemu {
namespace {

constexpr uint32_t set_request = _IOW('k', 1, int);
constexpr uint32_t get_request = _IOR('k', 2, int);

// What the driver remembers between runs, as the state file holds it:
//   command HEX          the last accepted command text, hex encoded
//   word 0xHHHHHHHH      the last word of a set request
// Either line is absent while the driver has not received one.
struct memory {
    bool has_command;
    size_t command_length;
    char command[command_max];
    bool has_word;
    uint32_t word;
};

memory remembered;
char state_text[2 * command_max + 64];

char hex_digit(unsigned value) {
    return static_cast<char>(value < 10 ? '0' + value : 'a' + value - 10);
}

int hex_value(char digit) {
    if (digit >= '0' && digit <= '9') {
        return digit - '0';
    }
    if (digit >= 'a' && digit <= 'f') {
        return digit - 'a' + 10;
    }
    return -1;
}

// Decodes hex digits into out; false on anything else.
bool decode_hex(std::string_view digits, char* out) {
    if (digits.size() % 2 != 0) {
        return false;
    }
    for (const char* at = digits.data(); at != digits.data() + digits.size(); at += 2) {
        const int high = hex_value(*at);
        const int low = hex_value(*(at + 1));
        if (high < 0 || low < 0) {
            return false;
        }
        *out++ = static_cast<char>(high * 16 + low);
    }
    return true;
}

// Removes prefix from text when it starts with it.
bool take(std::string_view& text, std::string_view prefix) {
    if (text.size() < prefix.size() || std::string_view(text.data(), prefix.size()) != prefix) {
        return false;
    }
    text.remove_prefix(prefix.size());
    return true;
}

bool parse_state_line(std::string_view line) {
    if (take(line, "command ")) {
        if (line.empty() || line.size() > 2 * command_max ||
            !decode_hex(line, remembered.command)) {
            return false;
        }
        remembered.has_command = true;
        remembered.command_length = line.size() / 2;
        return true;
    }
    char bytes[4] = {};
    if (take(line, "word 0x") && line.size() == 8 && decode_hex(line, bytes)) {
        remembered.has_word = true;
        remembered.word = 0;
        for (const char byte : bytes) {
            remembered.word = remembered.word << 8U | static_cast<unsigned char>(byte);
        }
        return true;
    }
    return false;
}

void load_memory() {
    remembered.has_command = false;
    remembered.has_word = false;
    const ssize_t length = read_scenario_file("state", state_text, sizeof state_text);
    std::string_view rest(state_text, length > 0 ? static_cast<size_t>(length) : 0);
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        if (end == std::string_view::npos ||
            !parse_state_line(std::string_view(rest.data(), end))) {
            fatal("the driver's state file is damaged");
        }
        rest.remove_prefix(end + 1);
    }
}

void save_memory() {
    char* at = state_text;
    const auto append = [&at](std::string_view text) {
        std::memcpy(at, text.data(), text.size());
        at += text.size();
    };
    if (remembered.has_command) {
        append("command ");
        for (const char* byte = remembered.command;
             byte != remembered.command + remembered.command_length; ++byte) {
            const auto value = static_cast<unsigned char>(*byte);
            *at++ = hex_digit(value >> 4U);
            *at++ = hex_digit(value & 15U);
        }
        append("\n");
    }
    if (remembered.has_word) {
        append("word 0x");
        for (unsigned shift = 32; shift != 0;) {
            shift -= 4;
            *at++ = hex_digit(remembered.word >> shift & 15U);
        }
        append("\n");
    }
    write_scenario_file("state", state_text, static_cast<size_t>(at - state_text));
}

// Skips an integer (optional '-', 1 to 10 digits) at the start of text; false when there is
// none.
bool skip_integer(std::string_view& text) {
    take(text, "-");
    const size_t digits = std::min(text.find_first_not_of("0123456789"), text.size());
    text.remove_prefix(digits);
    return digits >= 1 && digits <= 10;
}

// Copies up to want bytes of the driver's reply into out; returns how many it copied.
size_t copy_reply(unsigned char* out, size_t want) {
    char path[path_max];
    const int fd = real::open(scenario_path(path, "reply"), O_RDONLY | O_CLOEXEC, 0);
    if (fd >= 0) {
        size_t copied = 0;
        while (copied < want) {
            const ssize_t got = real::read(fd, out + copied, want - copied);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got < 0) {
                fatal("cannot read ", path, std::strerror(errno));
            }
            if (got == 0) {
                break;
            }
            copied += static_cast<size_t>(got);
        }
        real::close(fd);
        return copied;
    }
    if (errno != ENOENT) {
        fatal("cannot open ", path, std::strerror(errno));
    }
    load_memory();
    const std::string_view parts[] = {
        "status: ",
        remembered.has_command ? std::string_view(remembered.command, remembered.command_length)
                               : "idle",
        "\n"};
    size_t copied = 0;
    for (const std::string_view part : parts) {
        const size_t length = std::min(part.size(), want - copied);
        std::memcpy(out + copied, part.data(), length);
        copied += length;
    }
    return copied;
}

} // namespace

bool command_is_valid(const char* text, size_t length) {
    std::string_view rest(text, length);
    for (const std::string_view item : {"period ", "count "}) {
        if (!take(rest, item)) {
            continue;
        }
        if (!skip_integer(rest)) {
            return false;
        }
        if (rest.empty()) {
            return true;
        }
        if (!take(rest, " ")) {
            return false;
        }
    }
    // What is left must be the pattern, which runs to the end and must not be empty.
    return take(rest, "pattern ") && !rest.empty();
}

outcome driver_write(const void* bytes, size_t count) {
    const fault& injected = config().write;
    if (injected.kind == fault_kind::fail) {
        return outcome{-1, static_cast<int>(injected.value)};
    }
    if (injected.kind == fault_kind::result) {
        return outcome{injected.value, 0};
    }
    const auto* text = static_cast<const char*>(bytes);
    if (count > command_max || !command_is_valid(text, count)) {
        return outcome{-1, EINVAL};
    }
    load_memory();
    remembered.has_command = true;
    remembered.command_length = count;
    std::memcpy(remembered.command, text, count);
    save_memory();
    return outcome{static_cast<long>(count), 0};
}

outcome driver_read(void* buffer, size_t count) {
    const fault& injected = config().read;
    if (injected.kind == fault_kind::fail) {
        return outcome{-1, static_cast<int>(injected.value)};
    }
    auto* out = static_cast<unsigned char*>(buffer);
    if (injected.kind == fault_kind::result) {
        // A short or overlong answer: the reply's first bytes, padded with 'x'.
        const size_t want = std::min(static_cast<size_t>(injected.value), count);
        const size_t copied = copy_reply(out, want);
        std::memset(out + copied, 'x', want - copied);
        return outcome{injected.value, 0};
    }
    return outcome{static_cast<long>(copy_reply(out, count)), 0};
}

request_kind classify_request(unsigned long request) {
    const auto number = static_cast<uint32_t>(request);
    return number == set_request   ? request_kind::set
           : number == get_request ? request_kind::get
                                   : request_kind::other;
}

outcome driver_request(request_kind kind, uint32_t* word, bool& filled) {
    filled = false;
    const fault& injected = config().ioctl;
    if (injected.kind == fault_kind::fail) {
        return outcome{-1, static_cast<int>(injected.value)};
    }
    if (injected.kind == fault_kind::result) {
        return outcome{injected.value, 0};
    }
    if (kind == request_kind::other) {
        return outcome{-1, ENOTTY};
    }
    if (word == nullptr) {
        return outcome{-1, EFAULT};
    }
    load_memory();
    if (kind == request_kind::set) {
        remembered.has_word = true;
        remembered.word = *word;
        save_memory();
    } else {
        *word = remembered.has_word ? remembered.word : 0;
        filled = true;
    }
    return outcome{0, 0};
}

} // namespace hornemu
