#include "scenario.h"

#include "errnames.h"
#include "real.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

namespace hornemu {
namespace {

bool loaded;
char dir_buffer[path_max];
const char* dir;
board_config board;

void put(const char* text) {
    real::write(2, text, strlen(text));
}

struct token {
    const char* text;
    size_t length;
};

bool is(const token& word, const char* expected) {
    return word.length == strlen(expected) && memcmp(word.text, expected, word.length) == 0;
}

// A decimal integer with an optional '-' within [low, high].
bool parse_number(const token& word, long low, long high, long& value) {
    size_t at = 0;
    const bool negative = word.length > 0 && word.text[0] == '-';
    at += negative ? 1 : 0;
    if (at == word.length || word.length - at > 10) {
        return false;
    }
    long long magnitude = 0;
    for (; at < word.length; ++at) {
        if (word.text[at] < '0' || word.text[at] > '9') {
            return false;
        }
        magnitude = magnitude * 10 + (word.text[at] - '0');
    }
    const long long signed_value = negative ? -magnitude : magnitude;
    if (signed_value < low || signed_value > high) {
        return false;
    }
    value = static_cast<long>(signed_value);
    return true;
}

// One directive of board.conf, split into words; false when it is not one.
bool apply_directive(const token* words, size_t count) {
    if (count == 2 && is(words[0], "node")) {
        if (is(words[1], "absent")) {
            board.node_absent = true;
        } else if (is(words[1], "device") || is(words[1], "regular") || is(words[1], "fifo")) {
            board.node = is(words[1], "regular") ? node_type::regular
                         : is(words[1], "fifo")  ? node_type::fifo
                                                 : node_type::device;
        } else {
            return false;
        }
        return true;
    }
    if (count != 3) {
        return false;
    }
    int error = 0;
    if (is(words[1], "fail")) {
        error = errno_parse(words[2].text, words[2].length);
        if (error == 0) {
            return false;
        }
    }
    if (is(words[0], "lampstat") && error != 0) {
        board.lampstat_errno = error;
        return true;
    }
    if (is(words[0], "open") && error != 0) {
        board.open_errno = error;
        return true;
    }
    fault* target = is(words[0], "write")   ? &board.write
                    : is(words[0], "read")  ? &board.read
                    : is(words[0], "ioctl") ? &board.ioctl
                                            : nullptr;
    if (target == nullptr) {
        return false;
    }
    if (error != 0) {
        *target = fault{fault_kind::fail, error};
        return true;
    }
    long value = 0;
    const long low = target == &board.ioctl ? INT_MIN : 0;
    if (!is(words[1], "return") || !parse_number(words[2], low, INT_MAX, value)) {
        return false;
    }
    *target = fault{fault_kind::result, value};
    return true;
}

void parse_board_conf() {
    static char text[16384];
    const ssize_t length = read_scenario_file("board.conf", text, sizeof text);
    size_t line_start = 0;
    for (unsigned line_number = 1; length > 0 && line_start < static_cast<size_t>(length);
         ++line_number) {
        size_t line_end = line_start;
        while (line_end < static_cast<size_t>(length) && text[line_end] != '\n') {
            ++line_end;
        }
        token words[4];
        size_t count = 0;
        bool too_many = false;
        for (size_t at = line_start; at < line_end;) {
            if (text[at] == ' ' || text[at] == '\t' || text[at] == '\r') {
                ++at;
                continue;
            }
            const size_t word_start = at;
            while (at < line_end && text[at] != ' ' && text[at] != '\t' && text[at] != '\r') {
                ++at;
            }
            if (count == 4) {
                too_many = true;
                break;
            }
            words[count++] = token{text + word_start, at - word_start};
        }
        const bool comment = count > 0 && words[0].text[0] == '#';
        if (count > 0 && !comment && (too_many || !apply_directive(words, count))) {
            char number[16];
            snprintf(number, sizeof number, "%u", line_number);
            put("hornemu: board.conf:");
            put(number);
            put(": cannot parse: ");
            real::write(2, text + line_start, line_end - line_start);
            put("\n");
            _exit(125);
        }
        line_start = line_end + 1;
    }
}

void load() {
    loaded = true;
    const char* value = getenv("HORNEMU_DIR");
    if (value == nullptr) {
        return;
    }
    if (value[0] == '\0') {
        fatal("HORNEMU_DIR is set but empty");
    }
    if (strlen(value) + 32 > sizeof dir_buffer) {
        fatal("HORNEMU_DIR is too long");
    }
    memcpy(dir_buffer, value, strlen(value) + 1);
    dir = dir_buffer;
    parse_board_conf();
}

// Checks the scenario as soon as the library is loaded, so that a broken one fails every
// program run on it, whether or not the program reaches the board.
__attribute__((constructor)) void load_at_start() {
    if (!loaded) {
        load();
    }
}

} // namespace

const char* scenario_dir() {
    if (!loaded) {
        load();
    }
    return dir;
}

const board_config& config() {
    scenario_dir();
    return board;
}

const char* scenario_path(char (&buffer)[path_max], const char* name) {
    const int length = snprintf(buffer, sizeof buffer, "%s/%s", dir, name);
    if (length < 0 || static_cast<size_t>(length) >= sizeof buffer) {
        fatal("HORNEMU_DIR is too long");
    }
    return buffer;
}

ssize_t read_scenario_file(const char* name, char* buffer, size_t size) {
    char path[path_max];
    const int fd = real::open(scenario_path(path, name), O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0) {
        if (errno == ENOENT) {
            return -1;
        }
        fatal("cannot open ", path, strerror(errno));
    }
    size_t length = 0;
    for (;;) {
        const ssize_t got = real::read(fd, buffer + length, size - length);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            fatal("cannot read ", path, strerror(errno));
        }
        if (got == 0) {
            break;
        }
        length += static_cast<size_t>(got);
        if (length == size) {
            char probe;
            if (real::read(fd, &probe, 1) != 0) {
                fatal("file too large: ", path);
            }
            break;
        }
    }
    real::close(fd);
    return static_cast<ssize_t>(length);
}

void write_scenario_file(const char* name, const char* bytes, size_t length) {
    char path[path_max];
    char temporary[path_max];
    scenario_path(path, name);
    const int path_length = snprintf(temporary, sizeof temporary, "%s.new", path);
    if (path_length < 0 || static_cast<size_t>(path_length) >= sizeof temporary) {
        fatal("HORNEMU_DIR is too long");
    }
    const int fd = real::open(temporary, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        fatal("cannot create ", temporary, strerror(errno));
    }
    for (size_t done = 0; done < length;) {
        const ssize_t wrote = real::write(fd, bytes + done, length - done);
        if (wrote < 0 && errno != EINTR) {
            fatal("cannot write ", temporary, strerror(errno));
        }
        done += wrote > 0 ? static_cast<size_t>(wrote) : 0;
    }
    if (real::close(fd) != 0 || rename(temporary, path) != 0) {
        fatal("cannot write ", path, strerror(errno));
    }
}

void fatal(const char* what, const char* detail, const char* more) {
    put("hornemu: ");
    put(what);
    put(detail);
    if (more[0] != '\0') {
        put(": ");
        put(more);
    }
    put("\n");
    _exit(125);
}

} // namespace hornemu
