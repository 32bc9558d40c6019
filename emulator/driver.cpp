#include "driver.h"

#include "real.h"
#include "scenario.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
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
    unsigned char command[command_max];
    bool has_word;
    uint32_t word;
};

memory remembered;
char state_text[2 * command_max + 64];

bool starts_with(const char* text, size_t length, const char* prefix) {
    const size_t prefix_length = strlen(prefix);
    return length >= prefix_length && memcmp(text, prefix, prefix_length) == 0;
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

// Decodes length hex digits into out; false on anything else.
bool decode_hex(const char* digits, size_t length, unsigned char* out) {
    if (length % 2 != 0) {
        return false;
    }
    for (size_t i = 0; i < length; i += 2) {
        const int high = hex_value(digits[i]);
        const int low = hex_value(digits[i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        out[i / 2] = static_cast<unsigned char>(high * 16 + low);
    }
    return true;
}

bool parse_state_line(const char* line, size_t length) {
    if (starts_with(line, length, "command ")) {
        const size_t digits = length - 8;
        if (digits == 0 || digits > 2 * command_max ||
            !decode_hex(line + 8, digits, remembered.command)) {
            return false;
        }
        remembered.has_command = true;
        remembered.command_length = digits / 2;
        return true;
    }
    if (starts_with(line, length, "word 0x") && length == 15) {
        unsigned char bytes[4];
        if (!decode_hex(line + 7, 8, bytes)) {
            return false;
        }
        remembered.has_word = true;
        remembered.word = static_cast<uint32_t>(bytes[0]) << 24 |
                          static_cast<uint32_t>(bytes[1]) << 16 |
                          static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
        return true;
    }
    return false;
}

void load_memory() {
    remembered.has_command = false;
    remembered.has_word = false;
    const ssize_t length = read_scenario_file("state", state_text, sizeof state_text);
    size_t start = 0;
    while (length > 0 && start < static_cast<size_t>(length)) {
        const char* newline = static_cast<const char*>(
            memchr(state_text + start, '\n', static_cast<size_t>(length) - start));
        if (newline == nullptr ||
            !parse_state_line(state_text + start,
                              static_cast<size_t>(newline - state_text) - start)) {
            fatal("the driver's state file is damaged");
        }
        start = static_cast<size_t>(newline - state_text) + 1;
    }
}

void save_memory() {
    static constexpr char digits[] = "0123456789abcdef";
    size_t length = 0;
    if (remembered.has_command) {
        memcpy(state_text, "command ", 8);
        length = 8;
        for (size_t i = 0; i < remembered.command_length; ++i) {
            state_text[length++] = digits[remembered.command[i] >> 4];
            state_text[length++] = digits[remembered.command[i] & 15];
        }
        state_text[length++] = '\n';
    }
    if (remembered.has_word) {
        memcpy(state_text + length, "word 0x", 7);
        length += 7;
        for (int shift = 28; shift >= 0; shift -= 4) {
            state_text[length++] = digits[(remembered.word >> shift) & 15];
        }
        state_text[length++] = '\n';
    }
    write_scenario_file("state", state_text, length);
}

// Skips an integer (optional '-', 1 to 10 digits) at text[at]; false when there is none.
bool skip_integer(const unsigned char* text, size_t length, size_t& at) {
    if (at < length && text[at] == '-') {
        ++at;
    }
    size_t digits = 0;
    while (at < length && text[at] >= '0' && text[at] <= '9') {
        ++at;
        ++digits;
    }
    return digits >= 1 && digits <= 10;
}

bool skip_word(const unsigned char* text, size_t length, size_t& at, const char* word) {
    const size_t word_length = strlen(word);
    if (length - at < word_length || memcmp(text + at, word, word_length) != 0) {
        return false;
    }
    at += word_length;
    return true;
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
                fatal("cannot read ", path, strerror(errno));
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
        fatal("cannot open ", path, strerror(errno));
    }
    static unsigned char status[command_max + 16];
    load_memory();
    size_t length = 0;
    memcpy(status, "status: ", 8);
    length = 8;
    if (remembered.has_command) {
        memcpy(status + length, remembered.command, remembered.command_length);
        length += remembered.command_length;
    } else {
        memcpy(status + length, "idle", 4);
        length += 4;
    }
    status[length++] = '\n';
    const size_t copied = want < length ? want : length;
    memcpy(out, status, copied);
    return copied;
}

} // namespace

bool command_is_valid(const unsigned char* text, size_t length) {
    static const char* const items[] = {"period ", "count ", "pattern "};
    size_t at = 0;
    size_t next_item = 0;
    while (next_item < 3) {
        if (!skip_word(text, length, at, items[next_item])) {
            ++next_item;
            continue;
        }
        if (next_item == 2) {
            return at < length; // the pattern runs to the end and must not be empty
        }
        if (!skip_integer(text, length, at)) {
            return false;
        }
        if (at == length) {
            return true;
        }
        if (text[at] != ' ') {
            return false;
        }
        ++at;
        ++next_item;
    }
    return false;
}

outcome driver_write(const void* bytes, size_t count) {
    const fault& injected = config().write;
    if (injected.kind == fault_kind::fail) {
        return outcome{-1, static_cast<int>(injected.value)};
    }
    if (injected.kind == fault_kind::result) {
        return outcome{injected.value, 0};
    }
    const unsigned char* text = static_cast<const unsigned char*>(bytes);
    if (count > command_max || !command_is_valid(text, count)) {
        return outcome{-1, EINVAL};
    }
    load_memory();
    remembered.has_command = true;
    remembered.command_length = count;
    memcpy(remembered.command, text, count);
    save_memory();
    return outcome{static_cast<long>(count), 0};
}

outcome driver_read(void* buffer, size_t count) {
    const fault& injected = config().read;
    if (injected.kind == fault_kind::fail) {
        return outcome{-1, static_cast<int>(injected.value)};
    }
    unsigned char* out = static_cast<unsigned char*>(buffer);
    if (injected.kind == fault_kind::result) {
        // A short or overlong answer: the reply's first bytes, padded with 'x'.
        const size_t result = static_cast<size_t>(injected.value);
        const size_t want = result < count ? result : count;
        const size_t copied = copy_reply(out, want);
        memset(out + copied, 'x', want - copied);
        return outcome{injected.value, 0};
    }
    return outcome{static_cast<long>(copy_reply(out, count)), 0};
}

request_kind classify_request(unsigned long request) {
    const uint32_t number = static_cast<uint32_t>(request);
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
