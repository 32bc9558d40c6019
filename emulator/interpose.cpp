// libhornemu.so: while HORNEMU_DIR names a scenario directory, "/proc/lampstat" and "/dev/hornio"
// belong to the emulated board, and every other path and descriptor passes straight through.
// The exec and spawn functions only note in "loaded" that a program starts, so that hornemu can
// tell whether every program of a run had the library. Plain C library calls only: the library
// is loaded into arbitrary programs and has no C++ runtime.

// The entry points are defined side by side with their 64-bit variants, so the plain
// declarations of libc are wanted here, not ones redirected by these settings.
#undef _FILE_OFFSET_BITS
#undef _TIME_BITS
#undef _FORTIFY_SOURCE

#include "driver_model/hornio_model.h"
#include "errnames.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <spawn.h>
#include <string_view>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

// musl's headers make the 64-bit names macros for the plain ones; here they are the symbols.
#undef open64
#undef fopen64

#define HORNEMU_EXPORT extern "C" __attribute__((visibility("default")))

namespace hornemu {

// Shared with time64.cpp.
void* libc_address(const char* name);
bool is_driver_node(int fd);

namespace {

// The C library's own entry points, past the interposer: looked up when the library is loaded,
// so that a call passed through later (from a signal handler, say) does no more than the C
// library's own.
const char* const entry_names[] = {
    "open",        "open64",       "fopen",          "fopen64",        "fclose",
    "read",        "write",        "ioctl",          "close",          "fcntl",
    "fcntl64",     "fstat",        "fstat64",        "execve",         "execvpe",
    "posix_spawn", "posix_spawnp", "__ioctl_time64", "__fcntl_time64", "__fstat64_time64"};
void* entry_addresses[std::size(entry_names)];

template <typename Fn>
Fn libc(const char* name) {
    void* address = libc_address(name);
    Fn function = nullptr;
    std::memcpy(&function, &address, sizeof function);
    return function;
}

const auto real_open = [](const char* path, int flags, mode_t mode = 0644) {
    return libc<int (*)(const char*, int, ...)>("open")(path, flags, mode);
};
const auto real_close = [](int fd) { return libc<int (*)(int)>("close")(fd); };
const auto real_read = [](int fd, void* buffer, size_t count) {
    return libc<ssize_t (*)(int, void*, size_t)>("read")(fd, buffer, count);
};
const auto real_write = [](int fd, const void* bytes, size_t count) {
    return libc<ssize_t (*)(int, const void*, size_t)>("write")(fd, bytes, count);
};

constexpr size_t path_max = 4096;
constexpr char proc_path[] = HORNIO_LAMPSTAT_PATH;
constexpr char node_path[] = HORNIO_NODE_PATH;

// What stands at "/dev/hornio", and what board.conf says of the board.
enum class node_type : unsigned char { device, regular, fifo, absent };
struct board_config {
    hornio_fault lampstat; // opening "/proc/lampstat" fails
    node_type node;
    hornio_faults faults;
};

bool loaded;
char dir_buffer[path_max];
const char* dir; // the scenario directory; nullptr when everything passes through
board_config board;

// "hornemu: " and the parts on standard error, then status 125: the scenario is broken.
[[noreturn]] void fatal(std::string_view what, std::string_view path = "",
                        std::string_view more = "", std::string_view reason = "") {
    for (const std::string_view part :
         {std::string_view("hornemu: "), what, path, more, reason, std::string_view("\n")}) {
        real_write(STDERR_FILENO, part.data(), part.size());
    }
    _exit(125);
}

// The scenario's file name; it fits, as HORNEMU_DIR was checked to leave room for any name.
const char* scenario_path(char (&buffer)[path_max], const char* name) {
    std::snprintf(buffer, sizeof buffer, "%s/%s", dir, name); // NOLINT(cert-err33-c)
    return buffer;
}

// A scenario file written whole (flags O_TRUNC) or appended to (O_APPEND), made when missing.
void write_file(const char* name, const char* bytes, size_t length, int flags) {
    char path[path_max];
    const int fd = real_open(scenario_path(path, name), O_WRONLY | O_CREAT | O_CLOEXEC | flags);
    for (size_t done = 0; fd >= 0 && done < length;) {
        const ssize_t wrote = real_write(fd, bytes + done, length - done);
        if (wrote < 0 && errno != EINTR) {
            fatal("cannot write ", path, ": ", std::strerror(errno));
        }
        done += wrote > 0 ? static_cast<size_t>(wrote) : 0;
    }
    if (fd < 0) {
        fatal("cannot create ", path, ": ", std::strerror(errno));
    }
    real_close(fd);
}

// A scenario file into buffer: its length, or -1 when it does not exist. Any other failure
// ends the process, as does a file larger than size unless only its start is wanted.
ssize_t read_file(const char* name, char* buffer, size_t size, bool whole = true) {
    char path[path_max];
    const int fd = real_open(scenario_path(path, name), O_RDONLY | O_CLOEXEC);
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

// One line appended to a scenario file (the log unless another is named) with the real open
// and write, never through stdio's streams; a line longer than the buffer goes in pieces.
class log_line {
  public:
    explicit log_line(const char* file = "log") : file_(file) {}

    // printf's formats, through the C library's vsnprintf.
    // NOLINTNEXTLINE(cert-dcl50-cpp)
    __attribute__((format(printf, 2, 3))) log_line& format(const char* format, ...) {
        char formatted[128];
        va_list arguments;
        va_start(arguments, format);
        const int length = std::vsnprintf(formatted, sizeof formatted, format, arguments);
        va_end(arguments);
        put(formatted, std::min(static_cast<size_t>(std::max(length, 0)), sizeof formatted - 1));
        return *this;
    }
    log_line& text(const char* words) { return put(words, std::strlen(words)); }
    log_line& hex(const void* bytes, size_t length) {
        for (size_t at = 0; at < length; ++at) {
            format("%02x", static_cast<const unsigned char*>(bytes)[at]);
        }
        return *this;
    }
    // Bytes outside '!'..'~', and '\\', as \xNN.
    log_line& escaped(const char* words) {
        for (const char* at = words; *at != '\0'; ++at) {
            const auto byte = static_cast<unsigned char>(*at);
            (byte > ' ' && byte < 0x7f && byte != '\\') ? put(at, 1) : format("\\x%02x", byte);
        }
        return *this;
    }
    // " fd=N" for a descriptor of the standard streams, where a device node must never land;
    // other numbers depend on the process and are left out.
    log_line& standard(int fd) {
        return fd >= 0 && fd <= STDERR_FILENO ? format(" fd=%d", fd) : *this;
    }
    log_line& error(int value) {
        const char* name = errno_name(value);
        return name != nullptr ? text(name) : format("errno %d", value);
    }
    // " -> value", or " -> -1 ENAME".
    log_line& result(long value, int error_value) {
        return error_value != 0 ? text(" -> -1 ").error(error_value) : format(" -> %ld", value);
    }
    void finish() {
        put("\n", 1);
        write_file(file_, buffer_, length_, O_APPEND);
    }

  private:
    log_line& put(const char* bytes, size_t length) {
        for (size_t part = 0; length > 0; bytes += part, length -= part) {
            if (length_ == sizeof buffer_) {
                write_file(file_, buffer_, length_, O_APPEND);
                length_ = 0;
            }
            part = std::min(length, sizeof buffer_ - length_);
            std::memcpy(buffer_ + length_, bytes, part);
            length_ += part;
        }
        return *this;
    }

    const char* file_;
    char buffer_[4096] = {};
    size_t length_ = 0;
};

// "node TYPE", "OP fail ERRNO" or "OP return N" of board.conf.
bool apply(std::string_view first, std::string_view second, std::string_view third) {
    if (first == "node" && third.empty()) {
        constexpr std::string_view types[] = {"device", "regular", "fifo", "absent"};
        const auto* type = std::find(std::begin(types), std::end(types), second);
        board.node = static_cast<node_type>(type - std::begin(types));
        return type != std::end(types);
    }
    const int error = second == "fail" ? errno_parse(third) : 0;
    hornio_fault* fault = first == "lampstat" ? &board.lampstat
                          : first == "open"   ? &board.faults.open
                          : first == "write"  ? &board.faults.write
                          : first == "read"   ? &board.faults.read
                          : first == "ioctl"  ? &board.faults.request
                                              : nullptr;
    if (fault != nullptr && error != 0) {
        *fault = hornio_fault{HORNIO_FAIL, error};
        return true;
    }
    // A request may return any int, even -1 without an errno, which no C library does: the
    // suite uses it to see how a caller copes (hornemu's --return refuses it).
    int value = 0;
    const char* end = third.data() + third.size();
    const auto [stop, failed] = std::from_chars(third.data(), end, value);
    const bool valid = !third.empty() && stop == end && failed == std::errc() &&
                       (value >= 0 || fault == &board.faults.request);
    if (second != "return" || !valid || fault == nullptr || fault == &board.lampstat ||
        fault == &board.faults.open) {
        return false;
    }
    *fault = hornio_fault{HORNIO_RETURN, value};
    return true;
}

// Each line a directive, a comment or blank; words at most 31 bytes, as no directive has longer.
void parse_board_conf() {
    static char text[16384]; // read once, into zeros: the text ends with a NUL
    const ssize_t length = read_file("board.conf", text, sizeof text - 1);
    std::replace(text, text + std::max<ssize_t>(length, 0), '\0', '\x01'); // a NUL is refused
    char* rest = text;
    for (unsigned number = 1; rest != nullptr; ++number) {
        const char* line = strsep(&rest, "\n");
        char words[4][32] = {};
        const int count =
            std::sscanf(line, "%31s %31s %31s %31s", words[0], words[1], words[2], words[3]);
        if (count > 0 && words[0][0] != '#' &&
            (count == 4 || !apply(words[0], words[1], words[2]))) {
            char digits[16];
            std::snprintf(digits, sizeof digits, "%u", number);
            fatal("board.conf:", digits, ": cannot parse: ", line);
        }
    }
}

// HORNEMU_DIR, read once; the process id goes to "loaded", the proof that the library is here,
// before board.conf is parsed, so that even a program a broken board.conf ends is known.
const char* scenario_dir() {
    const char* value = loaded ? nullptr : std::getenv("HORNEMU_DIR");
    loaded = true;
    if (value != nullptr) {
        const size_t length = std::strlen(value);
        if (length == 0 || length + 32 > sizeof dir_buffer) {
            fatal(length == 0 ? "HORNEMU_DIR is set but empty" : "HORNEMU_DIR is too long");
        }
        dir = static_cast<const char*>(std::memcpy(dir_buffer, value, length + 1));
        log_line("loaded").format("%ld", static_cast<long>(getpid())).finish();
        parse_board_conf();
    }
    return dir;
}

// Looks the C library's entry points up and checks the scenario as soon as the library is
// loaded, so that a broken scenario fails every program run on it.
__attribute__((constructor)) void load_at_start() {
    const int saved = errno;
    std::transform(std::begin(entry_names), std::end(entry_names), std::begin(entry_addresses),
                   [](const char* name) { return dlsym(RTLD_NEXT, name); });
    scenario_dir();
    errno = saved;
}

// The driver's memory, kept in the scenario's "state" across runs: "command " and the last
// accepted command's bytes, or "word 0xHHHHHHHH\n" after a set request; no file while idle.
hornio_model model;

void load_memory() {
    static char state[HORNIO_STANDIN_COMMAND_MAX + 16];
    const ssize_t got = read_file("state", state, sizeof state);
    const std::string_view text(state, got > 0 ? static_cast<size_t>(got) : 0);
    uint32_t word = 0;
    const bool is_word = text.size() == 16 && text.rfind("word 0x", 0) == 0 &&
                         text.back() == '\n' &&
                         std::from_chars(state + 7, state + 15, word, 16).ptr == state + 15;
    model.setting = is_word ? HORNIO_WORD : got > 8 ? HORNIO_COMMAND : HORNIO_IDLE;
    model.word = static_cast<int32_t>(word);
    if (!is_word && got > 8 && text.size() - 8 <= sizeof model.command &&
        text.rfind("command ", 0) == 0) {
        model.command_length = text.size() - 8;
        std::memcpy(model.command, state + 8, model.command_length);
    } else if (!is_word && got >= 0) {
        fatal("the driver's state file is damaged");
    }
}

// Written whole, then renamed over the state, so that no one reads it half written.
void save_memory() {
    char state[HORNIO_STANDIN_COMMAND_MAX + 16] = "command ";
    const bool command = model.setting == HORNIO_COMMAND;
    const int length = command ? static_cast<int>(model.command_length + 8)
                               : std::snprintf(state, sizeof state, "word 0x%08x\n",
                                               static_cast<uint32_t>(model.word));
    if (command) {
        std::memcpy(state + 8, model.command, model.command_length);
    }
    write_file("state.new", state, static_cast<size_t>(std::max(length, 0)), O_TRUNC);
    char from[path_max];
    char to[path_max];
    if (std::rename(scenario_path(from, "state.new"), scenario_path(to, "state")) != 0) {
        fatal("cannot write ", to, ": ", std::strerror(errno));
    }
}

// What an operation returns: value, or -1 with errno error when error is not 0.
struct outcome {
    long value;
    int error;
};

// A negative result is an error, unless a fault made it the operation's return value; the
// driver's memory is saved when it acted.
outcome acted(long result, const hornio_fault& fault, bool changed) {
    if (changed && result >= 0 && fault.kind == HORNIO_NO_FAULT) {
        save_memory();
    }
    return result < 0 && fault.kind != HORNIO_RETURN ? outcome{-1, static_cast<int>(-result)}
                                                     : outcome{result, 0};
}

// What a real call on a file in the node's place returned, as an outcome.
outcome real_outcome(long value) {
    return value < 0 ? outcome{-1, errno} : outcome{value, 0};
}

outcome driver_write(const void* bytes, size_t count) {
    load_memory();
    return acted(hornio_model_write(&model, &board.faults, static_cast<const char*>(bytes), count),
                 board.faults.write, true);
}

// The scenario's reply file when there is one, else the driver's status.
outcome driver_read(void* buffer, size_t count) {
    // A reply as long as hornemu copies; a read takes no more than count bytes of it.
    static char reply[size_t{1} << 20U];
    const size_t want = std::min(count, sizeof reply);
    ssize_t length = read_file("reply", reply, want, false);
    if (length < 0) {
        load_memory();
        length = static_cast<ssize_t>(hornio_model_status(&model, reply, want));
    }
    return acted(hornio_model_read(&board.faults, reply, static_cast<size_t>(length),
                                   static_cast<char*>(buffer), count),
                 board.faults.read, false);
}

// A request with the word its argument points to (null: none); filled tells whether the driver
// wrote the word.
outcome driver_request(uint32_t request, uint32_t* word, bool& filled) {
    load_memory();
    int32_t value = word != nullptr ? static_cast<int32_t>(*word) : 0;
    const long result =
        hornio_model_request(&model, &board.faults, request, word != nullptr ? &value : nullptr);
    filled = result == 0 && board.faults.request.kind == HORNIO_NO_FAULT && word != nullptr &&
             request == uint32_t{HORNIO_GET_REQUEST};
    if (filled) {
        *word = static_cast<uint32_t>(value);
    }
    return acted(result, board.faults.request, request == uint32_t{HORNIO_SET_REQUEST});
}

enum class path_kind : unsigned char { none, proc, node };

// A descriptor of one of the two paths, by its number: a real one of the scenario's "lampstat"
// or "node". Behind the emulated driver (driver set), "node" keeps whatever escapes the
// interposer, to be seen afterwards; a regular file or FIFO in the node's place is reached.
struct emulated_fd {
    path_kind kind;
    bool readable;
    bool writable;
    bool driver;
};
emulated_fd descriptors[256];
FILE* proc_streams[16];

// The entry of fd, when it is one of the two paths' (or of the node only).
emulated_fd* emulated(int fd, bool node_only = false) {
    const bool tracked = fd >= 0 && static_cast<size_t>(fd) < std::size(descriptors);
    emulated_fd* entry = tracked ? descriptors + fd : nullptr;
    const bool wanted = entry != nullptr && entry->kind != path_kind::none &&
                        (!node_only || entry->kind == path_kind::node);
    return wanted ? entry : nullptr;
}

path_kind owned_path(const char* path) {
    const path_kind kind = path == nullptr                     ? path_kind::none
                           : std::strcmp(path, proc_path) == 0 ? path_kind::proc
                           : std::strcmp(path, node_path) == 0 ? path_kind::node
                                                               : path_kind::none;
    return kind != path_kind::none && scenario_dir() != nullptr ? kind : path_kind::none;
}

// errno as an intercepted call leaves it: the operation's error, or unchanged on success.
template <typename Result>
Result returning(Result result, int error, int saved) {
    errno = error != 0 ? error : saved;
    return result;
}

// " -> ok", naming a standard descriptor, or " -> ENAME", ending the line.
void log_opened(log_line& line, int error, int fd = -1) {
    (error != 0 ? line.text(" -> ").error(error) : line.text(" -> ok").standard(fd)).finish();
}

// Records fd as a descriptor of kind, or closes it when it cannot be followed (EMFILE).
int track(int fd, const emulated_fd& entry, int& error) {
    if (fd >= static_cast<int>(std::size(descriptors))) {
        real_close(fd);
        error = EMFILE;
        return -1;
    }
    if (fd >= 0) {
        *(descriptors + fd) = entry;
    }
    return fd;
}

int open_error(path_kind kind) {
    return kind == path_kind::proc           ? static_cast<int>(board.lampstat.value)
           : board.node == node_type::absent ? ENOENT
                                             : static_cast<int>(-hornio_model_open(&board.faults));
}

// The scenario's file behind a node descriptor, as the board says: the sink behind the
// emulated driver, or the regular file or FIFO in the node's place (made when missing).
int open_node_file(int flags, mode_t mode) {
    char file[path_max];
    scenario_path(file, "node");
    if (board.node == node_type::fifo && mkfifo(file, 0644) != 0 && errno != EEXIST) {
        return -1;
    }
    const bool made = board.node == node_type::regular && (flags & O_CREAT) == 0;
    return board.node == node_type::device
               ? real_open(file, O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC)
           : made ? real_open(file, flags | O_CREAT, 0644)
                  : real_open(file, flags, mode);
}

int emulated_open(path_kind kind, const char* path, int flags, mode_t mode) {
    const int saved = errno;
    int error = open_error(kind);
    char file[path_max];
    int fd = error != 0                ? -1
             : kind == path_kind::proc ? real_open(scenario_path(file, "lampstat"), flags, mode)
                                       : open_node_file(flags, mode);
    error = fd < 0 && error == 0 ? errno : error;
    const int access = flags & O_ACCMODE;
    fd = track(fd,
               {kind, access != O_WRONLY, access != O_RDONLY,
                kind == path_kind::node && board.node == node_type::device},
               error);
    log_line line;
    // The access mode by name (Linux numbers them 0 to 3); other flags are not the driver's.
    const char* const modes[] = {"O_RDONLY", "O_WRONLY", "O_RDWR", "O_ACCMODE"};
    line.text("open ").text(path).text(" flags=").text(*(modes + (flags & O_ACCMODE)));
    log_opened(line, error, fd);
    return returning(fd, error, saved);
}

FILE* emulated_fopen(const char* path, const char* mode, const char* real) {
    const auto open_stream = libc<FILE* (*)(const char*, const char*)>(real);
    const path_kind kind = owned_path(path);
    if (kind == path_kind::none) {
        return open_stream(path, mode);
    }
    const int saved = errno;
    FILE** entry = std::find(std::begin(proc_streams), std::end(proc_streams), nullptr);
    int error = open_error(kind);
    if (error == 0 && kind == path_kind::node) {
        error = EOPNOTSUPP; // the emulated driver is reached through descriptors only
    } else if (error == 0 && entry == std::end(proc_streams)) {
        error = EMFILE;
    }
    char file[path_max];
    FILE* stream = error == 0 ? open_stream(scenario_path(file, "lampstat"), mode) : nullptr;
    error = error == 0 && stream == nullptr ? errno : error;
    if (stream != nullptr) {
        *entry = stream;
    }
    log_line line;
    line.text("open ").text(path).text(" mode=").escaped(mode);
    log_opened(line, error);
    return returning(stream, error, saved);
}

// ioctl and its variants: any descriptor but a node's goes to real, with its own request type.
template <typename Request>
int ioctl_entry(const char* real, int fd, Request request, va_list& rest) {
    void* argument = va_arg(rest, void*);
    const emulated_fd* entry = emulated(fd, true);
    if (entry == nullptr) {
        return libc<int (*)(int, Request, ...)>(real)(fd, request, argument);
    }
    const int saved = errno;
    const auto number = static_cast<uint32_t>(request); // the kernel reads the low 32 bits
    auto* word = static_cast<uint32_t*>(argument);
    log_line line;
    line.text("ioctl ").text(node_path).format(" request=0x%08x", number);
    if (hornio_request_has_word(number) != 0) {
        (word != nullptr ? line.format(" word=0x%08x", *word) : line.text(" word=null"));
    }
    bool filled = false;
    const outcome result =
        entry->driver ? driver_request(number, word, filled)
                      : real_outcome(libc<int (*)(int, Request, ...)>(real)(fd, request, argument));
    line.result(result.value, result.error);
    (filled ? line.format(" word=0x%08x", *word) : line).finish();
    return returning(static_cast<int>(result.value), result.error, saved);
}

// fcntl and its variants: a duplicate of an emulated descriptor is followed, and logged.
int fcntl_entry(const char* real, int fd, int command, va_list& rest) {
    int result = libc<int (*)(int, int, ...)>(real)(fd, command, va_arg(rest, void*));
    int error = errno;
    const emulated_fd* original = emulated(fd);
    if (original == nullptr || (command != F_DUPFD && command != F_DUPFD_CLOEXEC)) {
        return returning(result, error, error);
    }
    result = track(result, *original, error);
    log_line line;
    line.text("dup ").text(original->kind == path_kind::node ? node_path : proc_path).standard(fd);
    log_opened(line, result < 0 ? error : 0, result);
    return returning(result, error, error);
}

// open and its variants, through the C library's function real for any other path. The mode
// follows the flags only when they create a file.
int open_entry(const char* real, const char* path, int flags, va_list& rest) {
    const bool creates = (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
    const auto mode = static_cast<mode_t>(creates ? va_arg(rest, int) : 0);
    const path_kind kind = owned_path(path);
    return kind != path_kind::none ? emulated_open(kind, path, flags, mode)
                                   : libc<int (*)(const char*, int, ...)>(real)(path, flags, mode);
}

// fstat and its variants: the emulated driver's node is a character device (10, 61, written
// out: st_rdev is narrower than dev_t on some architectures), whatever file stands behind it.
template <typename Stat>
int fstat_entry(const char* real, int fd, Stat* info) {
    const int result = libc<int (*)(int, Stat*)>(real)(fd, info);
    if (result == 0 && info != nullptr && is_driver_node(fd)) {
        info->st_mode = static_cast<decltype(info->st_mode)>(S_IFCHR | 0660);
        info->st_rdev = (10U << 8U) | 61U;
        info->st_size = 0;
    }
    return result;
}

void note(const char* kind, pid_t pid) {
    if (scenario_dir() != nullptr) {
        const int saved = errno;
        log_line("loaded").format("%s%ld", kind, static_cast<long>(pid)).finish();
        errno = saved;
    }
}

// An exec between its two notes: "exec PID" before, "stay PID" when it failed.
int noted_exec(const char* real, const char* file, char* const* argv, char* const* envp) {
    note("exec ", getpid());
    const int result =
        libc<int (*)(const char*, char* const*, char* const*)>(real)(file, argv, envp);
    note("stay ", getpid());
    return result;
}

int noted_spawn(const char* real, pid_t* pid, const char* path,
                const posix_spawn_file_actions_t* actions, const posix_spawnattr_t* attributes,
                char* const* argv, char* const* envp) {
    using spawn_fn = int (*)(pid_t*, const char*, const posix_spawn_file_actions_t*,
                             const posix_spawnattr_t*, char* const*, char* const*);
    pid_t child = 0;
    const int result = libc<spawn_fn>(real)(&child, path, actions, attributes, argv, envp);
    if (result == 0) {
        note("spawn ", child);
    }
    if (pid != nullptr) {
        *pid = child;
    }
    return result;
}

} // namespace

void* libc_address(const char* name) {
    const auto* found =
        std::find_if(std::begin(entry_names), std::end(entry_names),
                     [name](const char* entry) { return std::strcmp(entry, name) == 0; });
    void*& address = *(std::begin(entry_addresses) + (found - std::begin(entry_names)));
    address = address != nullptr ? address : dlsym(RTLD_NEXT, name); // before the constructor
    if (address == nullptr) {
        fatal("the C library has no ", name);
    }
    return address;
}

bool is_driver_node(int fd) {
    const emulated_fd* entry = emulated(fd, true);
    return entry != nullptr && entry->driver;
}

} // namespace hornemu

using namespace hornemu;

// glibc declares the 64-bit names too, musl only as macros (undone above): declared here, with
// the visibility the library exports them with.
// NOLINTBEGIN(readability-redundant-declaration)
HORNEMU_EXPORT int open64(const char* path, int flags, ...);
HORNEMU_EXPORT FILE* fopen64(const char* path, const char* mode);
// NOLINTEND(readability-redundant-declaration)
HORNEMU_EXPORT int __ioctl_time64(int fd, unsigned long request, ...);
HORNEMU_EXPORT int __fcntl_time64(int fd, int command, ...);

// glibc's request is an unsigned long, musl's an int: passed on as the C library declares it.
template <typename Request>
Request request_of(int (*)(int, Request, ...));
using ioctl_request = decltype(request_of(&::ioctl));

// An entry point of the C library's variadic functions (open, ioctl, fcntl and their 64-bit
// and 64-bit time variants): its arguments go to entry with the C library's name of it.
// NOLINTNEXTLINE(cppcoreguidelines-macro-usage): the name is both the symbol and a string
#define HORNEMU_VARIADIC(name, First, first, Second, second, entry)                                \
    HORNEMU_EXPORT int name(First first, Second second, ...) {                                     \
        va_list rest;                                                                              \
        va_start(rest, second);                                                                    \
        const int result = entry(#name, first, second, rest);                                      \
        va_end(rest);                                                                              \
        return result;                                                                             \
    }

HORNEMU_VARIADIC(open, const char*, path, int, flags, open_entry)
HORNEMU_VARIADIC(open64, const char*, path, int, flags, open_entry)
HORNEMU_VARIADIC(ioctl, int, fd, ioctl_request, request, ioctl_entry)
HORNEMU_VARIADIC(__ioctl_time64, int, fd, unsigned long, request, ioctl_entry)
HORNEMU_VARIADIC(fcntl, int, fd, int, command, fcntl_entry)
HORNEMU_VARIADIC(__fcntl_time64, int, fd, int, command, fcntl_entry)

HORNEMU_EXPORT int fstat(int fd, struct stat* info) {
    return fstat_entry("fstat", fd, info);
}

#ifdef __GLIBC__
HORNEMU_VARIADIC(fcntl64, int, fd, int, command, fcntl_entry)

HORNEMU_EXPORT int fstat64(int fd, struct stat64* info) {
    return fstat_entry("fstat64", fd, info);
}
#endif

HORNEMU_EXPORT FILE* fopen(const char* path, const char* mode) {
    return emulated_fopen(path, mode, "fopen");
}

HORNEMU_EXPORT FILE* fopen64(const char* path, const char* mode) {
    return emulated_fopen(path, mode, "fopen64");
}

HORNEMU_EXPORT int fclose(FILE* stream) {
    FILE** entry = std::find(std::begin(proc_streams), std::end(proc_streams), stream);
    const int saved = errno;
    const int result = libc<int (*)(FILE*)>("fclose")(stream);
    if (stream != nullptr && entry != std::end(proc_streams)) {
        const int error = result != 0 ? errno : 0;
        *entry = nullptr;
        log_line().text("close ").text(proc_path).finish();
        returning(0, error, saved);
    }
    return result;
}

HORNEMU_EXPORT ssize_t read(int fd, void* buffer, size_t count) {
    const emulated_fd* entry = emulated(fd, true);
    if (entry == nullptr) {
        return real_read(fd, buffer, count);
    }
    const int saved = errno;
    const outcome result = !entry->driver     ? real_outcome(real_read(fd, buffer, count))
                           : !entry->readable ? outcome{-1, EBADF}
                           : buffer == nullptr && count > 0 ? outcome{-1, EFAULT}
                                                            : driver_read(buffer, count);
    log_line line;
    line.text("read ").text(node_path).format(" count=%zu", count);
    line.result(result.value, result.error);
    if (result.error == 0 && result.value > 0) {
        // The program received count bytes at most, whatever the driver said.
        line.text(" data=").hex(buffer, std::min(static_cast<size_t>(result.value), count));
    }
    line.finish();
    return returning(static_cast<ssize_t>(result.value), result.error, saved);
}

HORNEMU_EXPORT ssize_t write(int fd, const void* bytes, size_t count) {
    const emulated_fd* entry = emulated(fd, true);
    if (entry == nullptr) {
        return real_write(fd, bytes, count);
    }
    const int saved = errno;
    const outcome result = !entry->driver     ? real_outcome(real_write(fd, bytes, count))
                           : !entry->writable ? outcome{-1, EBADF}
                           : bytes == nullptr && count > 0 ? outcome{-1, EFAULT}
                                                           : driver_write(bytes, count);
    log_line line;
    line.text("write ").text(node_path).format(" count=%zu data=", count);
    line.hex(bytes, bytes != nullptr ? count : 0).result(result.value, result.error).finish();
    return returning(static_cast<ssize_t>(result.value), result.error, saved);
}

HORNEMU_EXPORT int close(int fd) {
    emulated_fd* entry = emulated(fd);
    if (entry == nullptr) {
        return real_close(fd);
    }
    const int saved = errno;
    const path_kind kind = entry->kind;
    entry->kind = path_kind::none;
    // The emulated driver's release always succeeds.
    const int result = real_close(fd) != 0 && !entry->driver ? -1 : 0;
    const int error = result != 0 ? errno : 0;
    log_line line;
    line.text("close ").text(kind == path_kind::node ? node_path : proc_path);
    (kind == path_kind::node ? line.standard(fd).result(result, error) : line).finish();
    return returning(result, error, saved);
}

// The programs a run starts: execve (shells), execvp and execvpe (env, xargs and most tools),
// posix_spawn and posix_spawnp.
HORNEMU_EXPORT int execve(const char* path, char* const* argv, char* const* envp) {
    return noted_exec("execve", path, argv, envp);
}

HORNEMU_EXPORT int execvpe(const char* file, char* const* argv, char* const* envp) {
    return noted_exec("execvpe", file, argv, envp);
}

HORNEMU_EXPORT int execvp(const char* file, char* const* argv) {
    return noted_exec("execvpe", file, argv, environ);
}

// NOLINTNEXTLINE(cppcoreguidelines-macro-usage): the name is both the symbol and a string
#define HORNEMU_SPAWN(name)                                                                        \
    HORNEMU_EXPORT int name(                                                                       \
        pid_t* pid, const char* file, const posix_spawn_file_actions_t* actions,                   \
        const posix_spawnattr_t* attributes, char* const* argv, char* const* envp) {               \
        return noted_spawn(#name, pid, file, actions, attributes, argv, envp);                     \
    }

HORNEMU_SPAWN(posix_spawn)
HORNEMU_SPAWN(posix_spawnp)
