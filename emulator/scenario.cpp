#include "scenario.h"

#include "errnames.h"
#include "logline.h"
#include "real.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>

namespace hornemu {
namespace {

bool loaded;
char dir_buffer[path_max];
const char* dir;
board_config board;

void put(std::string_view text) {
    real::write(STDERR_FILENO, text.data(), text.size());
}

// The first word of text (split at spaces, tabs and carriage returns), removed from it.
std::string_view next_word(std::string_view& text) {
    constexpr std::string_view blanks = " \t\r";
    const size_t start = text.find_first_not_of(blanks);
    if (start == std::string_view::npos) {
        text = {};
        return {};
    }
    text.remove_prefix(start);
    const size_t end = std::min(text.find_first_of(blanks), text.size());
    const std::string_view word(text.data(), end);
    text.remove_prefix(end);
    return word;
}

// A decimal integer with an optional '-' within [low, high].
bool parse_number(std::string_view word, long low, long high, long& value) {
    const bool negative = !word.empty() && word.front() == '-';
    if (negative) {
        word.remove_prefix(1);
    }
    if (word.empty() || word.size() > 10) {
        return false;
    }
    long long magnitude = 0;
    for (const char digit : word) {
        if (digit < '0' || digit > '9') {
            return false;
        }
        magnitude = magnitude * 10 + (digit - '0');
    }
    const long long signed_value = negative ? -magnitude : magnitude;
    if (signed_value < low || signed_value > high) {
        return false;
    }
    value = static_cast<long>(signed_value);
    return true;
}

// "node absent", "node device", "node regular" or "node fifo".
bool apply_node(std::string_view type) {
    if (type == "absent") {
        board.node_absent = true;
    } else if (type == "device" || type == "regular" || type == "fifo") {
        board.node = type == "regular" ? node_type::regular
                     : type == "fifo"  ? node_type::fifo
                                       : node_type::device;
    } else {
        return false;
    }
    return true;
}

// "OP fail ERRNO" or "OP return N".
bool apply_fault(std::string_view op, std::string_view kind, std::string_view argument) {
    const int error = kind == "fail" ? errno_parse(argument.data(), argument.size()) : 0;
    if (kind == "fail" && error == 0) {
        return false;
    }
    if (op == "lampstat" || op == "open") {
        if (error == 0) {
            return false;
        }
        if (op == "open") {
            board.faults.open = hornio_fault{HORNIO_FAIL, error};
        } else {
            board.lampstat_errno = error;
        }
        return true;
    }
    hornio_fault* target = op == "write"   ? &board.faults.write
                           : op == "read"  ? &board.faults.read
                           : op == "ioctl" ? &board.faults.request
                                           : nullptr;
    if (target == nullptr) {
        return false;
    }
    if (error != 0) {
        *target = hornio_fault{HORNIO_FAIL, error};
        return true;
    }
    // A request may return any int, even -1 without an errno (no C library does that; the
    // tests use it to see how a caller copes): hornemu's --return refuses what is not real.
    long value = 0;
    const long low = target == &board.faults.request ? INT_MIN : 0;
    if (kind != "return" || !parse_number(argument, low, INT_MAX, value)) {
        return false;
    }
    *target = hornio_fault{HORNIO_RETURN, value};
    return true;
}

// One line of board.conf; false when it is not a directive (blank lines and comments are).
bool apply_line(std::string_view line) {
    const std::string_view first = next_word(line);
    const std::string_view second = next_word(line);
    const std::string_view third = next_word(line);
    const bool more = !next_word(line).empty();
    if (first.empty() || first.front() == '#') {
        return true;
    }
    if (more || second.empty()) {
        return false;
    }
    return third.empty() ? first == "node" && apply_node(second)
                         : apply_fault(first, second, third);
}

void parse_board_conf() {
    static char text[16384];
    const ssize_t length = read_scenario_file("board.conf", text, sizeof text);
    std::string_view rest(text, length > 0 ? static_cast<size_t>(length) : 0);
    for (unsigned line_number = 1; !rest.empty(); ++line_number) {
        const size_t end = std::min(rest.find('\n'), rest.size());
        const std::string_view line(rest.data(), end);
        rest.remove_prefix(std::min(end + 1, rest.size()));
        if (!apply_line(line)) {
            char number[16];
            const int digits = std::snprintf(number, sizeof number, "%u", line_number);
            put("hornemu: board.conf:");
            put(std::string_view(number, digits > 0 ? static_cast<size_t>(digits) : 0));
            put(": cannot parse: ");
            put(line);
            put("\n");
            _exit(125);
        }
    }
}

void load() {
    loaded = true;
    const char* value = std::getenv("HORNEMU_DIR");
    if (value == nullptr) {
        return;
    }
    const size_t length = std::strlen(value);
    if (length == 0) {
        fatal("HORNEMU_DIR is set but empty");
    }
    if (length + 32 > sizeof dir_buffer) {
        fatal("HORNEMU_DIR is too long");
    }
    std::copy_n(value, length + 1, dir_buffer);
    dir = dir_buffer;
    // First the proof that the library is here, so that even a program a broken board.conf
    // ends is known to have had it.
    log_line("loaded").unsigned_decimal(static_cast<size_t>(getpid())).finish();
    parse_board_conf();
}

// Looks the C library's functions up and checks the scenario as soon as the library is loaded,
// so that a broken scenario fails every program run on it, whether or not the program reaches
// the board.
__attribute__((constructor)) void load_at_start() {
    const int saved = errno;
    real::resolve_all();
    if (!loaded) {
        load();
    }
    errno = saved;
}

// Opens a scenario file with the real open, ending the process when it cannot.
int open_scenario_file(char (&path)[path_max], const char* name, int flags) {
    const int fd = real::open(scenario_path(path, name), flags | O_CLOEXEC, 0644);
    if (fd < 0) {
        fatal((flags & O_CREAT) != 0 ? "cannot create " : "cannot open ", path,
              std::strerror(errno));
    }
    return fd;
}

void write_all(int fd, const char* bytes, size_t length, const char* path) {
    for (size_t done = 0; done < length;) {
        const ssize_t wrote = real::write(fd, bytes + done, length - done);
        if (wrote < 0 && errno != EINTR) {
            fatal("cannot write ", path, std::strerror(errno));
        }
        done += wrote > 0 ? static_cast<size_t>(wrote) : 0;
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
    // Without stdio: the interposer may be called from a signal handler.
    const size_t dir_length = std::strlen(dir);
    const size_t name_length = std::strlen(name);
    if (dir_length + 1 + name_length >= sizeof buffer) {
        fatal("HORNEMU_DIR is too long");
    }
    char* at = std::copy_n(dir, dir_length, buffer);
    *at++ = '/';
    std::copy_n(name, name_length + 1, at);
    return buffer;
}

ssize_t read_scenario_file(const char* name, char* buffer, size_t size, bool whole) {
    char path[path_max];
    const int fd = real::open(scenario_path(path, name), O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0) {
        if (errno == ENOENT) {
            return -1;
        }
        fatal("cannot open ", path, std::strerror(errno));
    }
    size_t length = 0;
    for (;;) {
        const ssize_t got = real::read(fd, buffer + length, size - length);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            fatal("cannot read ", path, std::strerror(errno));
        }
        if (got == 0) {
            break;
        }
        length += static_cast<size_t>(got);
        char probe = 0;
        if (length == size && whole && real::read(fd, &probe, 1) != 0) {
            fatal("file too large: ", path);
        }
        if (length == size) {
            break;
        }
    }
    real::close(fd);
    return static_cast<ssize_t>(length);
}

void start_scenario_file(const char* name) {
    char path[path_max];
    real::close(open_scenario_file(path, name, O_WRONLY | O_CREAT | O_TRUNC));
}

void rename_scenario_file(const char* from, const char* to) {
    char from_path[path_max];
    char to_path[path_max];
    if (std::rename(scenario_path(from_path, from), scenario_path(to_path, to)) != 0) {
        fatal("cannot write ", to_path, std::strerror(errno));
    }
}

void append_scenario_file(const char* name, const char* bytes, size_t length) {
    char path[path_max];
    const int fd = open_scenario_file(path, name, O_WRONLY | O_APPEND | O_CREAT);
    write_all(fd, bytes, length, path);
    real::close(fd);
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
