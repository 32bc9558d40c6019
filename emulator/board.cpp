#include "board.h"

#include "errnames.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <iterator>
#include <string_view>
#include <unistd.h>

namespace hornemu {
namespace {

struct entry_point {
    const char* name;
    void* address;
};
entry_point entry_points[] = {
    {"open", nullptr},           {"open64", nullptr},
    {"fopen", nullptr},          {"fopen64", nullptr},
    {"fclose", nullptr},         {"read", nullptr},
    {"write", nullptr},          {"ioctl", nullptr},
    {"__ioctl_time64", nullptr}, {"close", nullptr},
    {"fcntl", nullptr},          {"fcntl64", nullptr},
    {"__fcntl_time64", nullptr}, {"fstat", nullptr},
    {"fstat64", nullptr},        {"__fstat64_time64", nullptr},
    {"execve", nullptr},         {"execvpe", nullptr},
    {"fexecve", nullptr},        {"posix_spawn", nullptr},
    {"posix_spawnp", nullptr},
};

bool loaded;
char dir_buffer[path_max];
const char* dir;
board_config board;

void put(std::string_view text) {
    libc<ssize_t (*)(int, const void*, size_t)>("write")(STDERR_FILENO, text.data(), text.size());
}

// "hornemu: " and the parts on standard error, then status 125: the scenario is broken.
[[noreturn]] void fatal(std::string_view what, std::string_view path = "",
                        std::string_view more = "", std::string_view reason = "") {
    for (const std::string_view part : {std::string_view("hornemu: "), what, path, more, reason}) {
        put(part);
    }
    put("\n");
    _exit(125);
}

int real_open(const char* path, int flags) {
    return libc<int (*)(const char*, int, ...)>("open")(path, flags | O_CLOEXEC, 0644);
}
ssize_t real_read(int fd, void* buffer, size_t count) {
    return libc<ssize_t (*)(int, void*, size_t)>("read")(fd, buffer, count);
}
void real_close(int fd) {
    libc<int (*)(int)>("close")(fd);
}

// A scenario file written whole (flags O_TRUNC) or appended to (O_APPEND), made when missing.
void write_file(const char* name, const char* bytes, size_t length, int flags) {
    char path[path_max];
    const int fd = real_open(scenario_path(path, name), O_WRONLY | O_CREAT | flags);
    if (fd < 0) {
        fatal("cannot create ", path, ": ", std::strerror(errno));
    }
    const auto write = libc<ssize_t (*)(int, const void*, size_t)>("write");
    for (size_t done = 0; done < length;) {
        const ssize_t wrote = write(fd, bytes + done, length - done);
        if (wrote < 0 && errno != EINTR) {
            fatal("cannot write ", path, ": ", std::strerror(errno));
        }
        done += wrote > 0 ? static_cast<size_t>(wrote) : 0;
    }
    real_close(fd);
}

// A scenario file into buffer: its length, or -1 when it does not exist. Any other failure
// ends the process, as does a file larger than size unless only its start is wanted.
ssize_t read_file(const char* name, char* buffer, size_t size, bool whole = true) {
    char path[path_max];
    const int fd = real_open(scenario_path(path, name), O_RDONLY);
    if (fd < 0 && errno == ENOENT) {
        return -1;
    }
    size_t length = 0;
    for (ssize_t got = 1; fd >= 0 && got != 0 && length < size;) {
        got = real_read(fd, buffer + length, size - length);
        if (got < 0 && errno != EINTR) {
            fatal("cannot read ", path, ": ", std::strerror(errno));
        }
        length += got > 0 ? static_cast<size_t>(got) : 0;
    }
    char more = 0;
    if (fd < 0 || (length == size && whole && real_read(fd, &more, 1) != 0)) {
        fatal(fd < 0 ? "cannot open " : "file too large: ", path, fd < 0 ? ": " : "",
              fd < 0 ? std::strerror(errno) : "");
    }
    real_close(fd);
    return static_cast<ssize_t>(length);
}

// The next word of text (split at spaces, tabs and carriage returns), removed from it.
std::string_view next_word(std::string_view& text) {
    constexpr std::string_view blanks = " \t\r";
    text.remove_prefix(std::min(text.find_first_not_of(blanks), text.size()));
    const std::string_view word = text.substr(0, text.find_first_of(blanks));
    text.remove_prefix(word.size());
    return word;
}

// A decimal integer with an optional '-' within [low, high].
bool parse_number(std::string_view word, long low, long high, long& value) {
    const bool negative = !word.empty() && word.front() == '-';
    word.remove_prefix(negative ? 1 : 0);
    long long magnitude = 0;
    for (const char digit : word) {
        if (digit < '0' || digit > '9' || magnitude > INT_MAX) {
            return false;
        }
        magnitude = magnitude * 10 + (digit - '0');
    }
    value = static_cast<long>(negative ? -magnitude : magnitude);
    return !word.empty() && value >= low && value <= high;
}

// "node TYPE", "OP fail ERRNO" or "OP return N".
bool apply(std::string_view first, std::string_view second, std::string_view third) {
    if (first == "node" && third.empty()) {
        constexpr std::string_view types[] = {"device", "regular", "fifo", "absent"};
        const auto* type = std::find(std::begin(types), std::end(types), second);
        board.node = static_cast<node_type>(type - std::begin(types));
        return type != std::end(types);
    }
    const int error = second == "fail" ? errno_parse(third.data(), third.size()) : 0;
    hornio_fault* fault = first == "open"    ? &board.faults.open
                          : first == "write" ? &board.faults.write
                          : first == "read"  ? &board.faults.read
                          : first == "ioctl" ? &board.faults.request
                                             : nullptr;
    if (first == "lampstat" && error != 0) {
        board.lampstat_errno = error;
        return true;
    }
    if (fault != nullptr && error != 0) {
        *fault = hornio_fault{HORNIO_FAIL, error};
        return true;
    }
    // A request may return any int, even -1 without an errno, which no C library does: the
    // suite uses it to see how a caller copes (hornemu's --return refuses it).
    long value = 0;
    const long low = first == "ioctl" ? INT_MIN : 0;
    if (fault == nullptr || fault == &board.faults.open || second != "return" ||
        !parse_number(third, low, INT_MAX, value)) {
        return false;
    }
    *fault = hornio_fault{HORNIO_RETURN, value};
    return true;
}

void parse_board_conf() {
    static char text[16384];
    const ssize_t length = read_file("board.conf", text, sizeof text);
    std::string_view rest(text, length > 0 ? static_cast<size_t>(length) : 0);
    for (unsigned number = 1; !rest.empty(); ++number) {
        const std::string_view line = rest.substr(0, rest.find('\n'));
        rest.remove_prefix(std::min(line.size() + 1, rest.size()));
        std::string_view words = line;
        const std::string_view first = next_word(words);
        const std::string_view second = next_word(words);
        const std::string_view third = next_word(words);
        const bool comment = first.empty() || first.front() == '#';
        if (!comment && (!next_word(words).empty() || !apply(first, second, third))) {
            char digits[16];
            const int shown = std::snprintf(digits, sizeof digits, "%u", number);
            fatal("board.conf:", std::string_view(digits, shown > 0 ? size_t(shown) : 0),
                  ": cannot parse: ", line);
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
    if (length == 0 || length + 32 > sizeof dir_buffer) {
        fatal(length == 0 ? "HORNEMU_DIR is set but empty" : "HORNEMU_DIR is too long");
    }
    dir = std::strcpy(dir_buffer, value);
    // First the proof that the library is here, so that even a program a broken board.conf
    // ends is known to have had it.
    log_line("loaded").count(static_cast<size_t>(getpid())).finish();
    parse_board_conf();
}

// Looks the C library's entry points up and checks the scenario as soon as the library is
// loaded, so that a broken scenario fails every program run on it.
__attribute__((constructor)) void load_at_start() {
    const int saved = errno;
    for (entry_point& entry : entry_points) {
        entry.address = dlsym(RTLD_NEXT, entry.name);
    }
    if (!loaded) {
        load();
    }
    errno = saved;
}

} // namespace

void* libc_address(const char* name) {
    entry_point* entry =
        std::find_if(std::begin(entry_points), std::end(entry_points),
                     [name](const entry_point& e) { return !strcmp(e.name, name); });
    if (entry->address == nullptr) { // called before the library's constructor ran
        entry->address = dlsym(RTLD_NEXT, name);
    }
    if (entry->address == nullptr) {
        fatal("the C library has no ", name);
    }
    return entry->address;
}

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
    const size_t dir_length = std::strlen(dir);
    if (dir_length + 1 + std::strlen(name) >= sizeof buffer) {
        fatal("HORNEMU_DIR is too long");
    }
    std::memcpy(buffer, dir, dir_length);
    buffer[dir_length] = '/';
    std::strcpy(buffer + dir_length + 1, name);
    return buffer;
}

log_line& log_line::text(const char* words) {
    put(words, std::strlen(words));
    return *this;
}

log_line& log_line::decimal(long long value) {
    text(value < 0 ? "-" : "");
    return count(value < 0 ? 0ULL - static_cast<unsigned long long>(value)
                           : static_cast<unsigned long long>(value));
}

log_line& log_line::count(size_t value) {
    char digits[24];
    char* at = std::end(digits);
    do {
        *--at = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    put(at, static_cast<size_t>(std::end(digits) - at));
    return *this;
}

log_line& log_line::digits(uint32_t value, unsigned at_least) {
    unsigned shift = 32;
    while (shift > 4 * at_least && (value >> (shift - 4)) == 0) {
        shift -= 4;
    }
    while (shift != 0) {
        shift -= 4;
        put(&"0123456789abcdef"[value >> shift & 15U], 1);
    }
    return *this;
}

log_line& log_line::hex(const void* bytes, size_t length) {
    for (size_t at = 0; at < length; ++at) {
        digits(static_cast<const unsigned char*>(bytes)[at], 2);
    }
    return *this;
}

log_line& log_line::hex32(uint32_t value) {
    return text("0x").digits(value, 8);
}

log_line& log_line::escaped(const char* words) {
    for (const char* at = words; *at != '\0'; ++at) {
        const auto byte = static_cast<unsigned char>(*at);
        if (byte > ' ' && byte < 0x7f && byte != '\\') {
            put(at, 1);
        } else {
            text("\\x").digits(byte, 2);
        }
    }
    return *this;
}

log_line& log_line::flags(int flags) {
    struct flag_name {
        int bits;
        const char* name;
    };
    static constexpr flag_name names[] = {
        {O_CREAT, "|O_CREAT"},         {O_EXCL, "|O_EXCL"},         {O_NOCTTY, "|O_NOCTTY"},
        {O_TRUNC, "|O_TRUNC"},         {O_APPEND, "|O_APPEND"},     {O_NONBLOCK, "|O_NONBLOCK"},
        {O_DSYNC, "|O_DSYNC"},         {O_SYNC, "|O_SYNC"},         {O_CLOEXEC, "|O_CLOEXEC"},
        {O_DIRECTORY, "|O_DIRECTORY"}, {O_NOFOLLOW, "|O_NOFOLLOW"},
    };
    const int access = flags & O_ACCMODE;
    text(access == O_RDONLY   ? "O_RDONLY"
         : access == O_WRONLY ? "O_WRONLY"
         : access == O_RDWR   ? "O_RDWR"
                              : "O_ACCMODE");
    auto rest = static_cast<unsigned>(flags) & ~static_cast<unsigned>(O_ACCMODE);
    // O_SYNC includes the bits of O_DSYNC: a synchronous open shows O_SYNC alone.
    const bool sync = (rest & unsigned{O_SYNC}) == unsigned{O_SYNC};
    unsigned shown = 0;
    for (const flag_name& flag : names) {
        const auto bits = static_cast<unsigned>(flag.bits);
        if ((rest & bits) == bits && !(flag.bits == O_DSYNC && sync)) {
            text(flag.name);
            shown |= bits;
        }
    }
    rest &= ~shown;
    return rest != 0 ? text("|0x").digits(rest, 1) : *this;
}

log_line& log_line::error(int value) {
    const char* name = errno_name(value);
    return name != nullptr ? text(name) : text("errno ").decimal(value);
}

log_line& log_line::result(long value, int error_value) {
    text(" -> ");
    return error_value != 0 ? text("-1 ").error(error_value) : decimal(value);
}

void log_line::finish() {
    put("\n", 1);
    flush();
}

void log_line::put(const char* bytes, size_t length) {
    while (length > 0) {
        if (length_ == sizeof buffer_) {
            flush();
        }
        const size_t part = std::min(length, sizeof buffer_ - length_);
        std::memcpy(buffer_ + length_, bytes, part);
        length_ += part;
        bytes += part;
        length -= part;
    }
}

void log_line::flush() {
    write_file(file_, buffer_, length_, O_APPEND);
    length_ = 0;
}

namespace {

// The driver's memory, kept in the scenario's "state" across runs: "command " and the last
// accepted command's bytes, or "word 0xHHHHHHHH\n" after a set request; no file while idle.
hornio_model model;

void load_memory() {
    static char state[HORNIO_STANDIN_COMMAND_MAX + 16];
    const ssize_t got = read_file("state", state, sizeof state);
    const std::string_view text(state, got > 0 ? static_cast<size_t>(got) : 0);
    model.setting = HORNIO_IDLE;
    uint32_t word = 0;
    bool valid = text.size() == 16 && text.substr(0, 7) == "word 0x" && text.back() == '\n';
    for (size_t at = 7; valid && at < 15; ++at) {
        const char digit = text[at];
        const bool decimal = digit >= '0' && digit <= '9';
        valid = decimal || (digit >= 'a' && digit <= 'f');
        word = word << 4U | static_cast<uint32_t>(decimal ? digit - '0' : digit - 'a' + 10);
    }
    if (valid) {
        model.setting = HORNIO_WORD;
        model.word = static_cast<int32_t>(word);
    } else if (text.size() > 8 && text.substr(0, 8) == "command ") {
        model.setting = HORNIO_COMMAND;
        model.command_length = text.size() - 8;
        std::memcpy(model.command, state + 8, model.command_length);
    } else if (got >= 0) {
        fatal("the driver's state file is damaged");
    }
}

// Written whole, then renamed over the state, so that no one reads it half written.
void save_memory() {
    char state[HORNIO_STANDIN_COMMAND_MAX + 16];
    size_t length = 0;
    if (model.setting == HORNIO_COMMAND) {
        length = model.command_length + 8;
        std::memcpy(state, "command ", 8);
        std::memcpy(state + 8, model.command, model.command_length);
    } else {
        const int shown =
            std::snprintf(state, sizeof state, "word 0x%08x\n", static_cast<uint32_t>(model.word));
        length = shown > 0 ? static_cast<size_t>(shown) : 0;
    }
    write_file("state.new", state, length, O_TRUNC);
    char from[path_max];
    char to[path_max];
    if (std::rename(scenario_path(from, "state.new"), scenario_path(to, "state")) != 0) {
        fatal("cannot write ", to, ": ", std::strerror(errno));
    }
}

// A negative result is an error, unless a fault made it the operation's return value.
outcome as_outcome(long result, const hornio_fault& fault) {
    return result < 0 && fault.kind != HORNIO_RETURN ? outcome{-1, static_cast<int>(-result)}
                                                     : outcome{result, 0};
}

} // namespace

outcome driver_write(const void* bytes, size_t count) {
    load_memory();
    const hornio_fault& fault = config().faults.write;
    const long result =
        hornio_model_write(&model, &config().faults, static_cast<const char*>(bytes), count);
    if (result >= 0 && fault.kind == HORNIO_NO_FAULT) {
        save_memory();
    }
    return as_outcome(result, fault);
}

outcome driver_read(void* buffer, size_t count) {
    // A reply as long as hornemu copies; a read takes no more than count bytes of it.
    static char reply[size_t{1} << 20U];
    const size_t want = std::min(count, sizeof reply);
    ssize_t length = read_file("reply", reply, want, false);
    if (length < 0) {
        load_memory();
        length = static_cast<ssize_t>(hornio_model_status(&model, reply, want));
    }
    return as_outcome(hornio_model_read(&config().faults, reply, static_cast<size_t>(length),
                                        static_cast<char*>(buffer), count),
                      config().faults.read);
}

outcome driver_request(unsigned long request, uint32_t* word, bool& filled) {
    load_memory();
    const hornio_fault& fault = config().faults.request;
    int32_t value = word != nullptr ? static_cast<int32_t>(*word) : 0;
    const auto number = static_cast<uint32_t>(request);
    const long result =
        hornio_model_request(&model, &config().faults, number, word != nullptr ? &value : nullptr);
    const bool done = result == 0 && fault.kind == HORNIO_NO_FAULT;
    filled = done && word != nullptr && number == uint32_t{HORNIO_GET_REQUEST};
    if (filled) {
        *word = static_cast<uint32_t>(value);
    } else if (done && number == uint32_t{HORNIO_SET_REQUEST}) {
        save_memory();
    }
    return as_outcome(result, fault);
}

} // namespace hornemu
