// The C library entry points libhornemu.so puts in front of libc's own. While HORNEMU_DIR
// names a scenario directory, "/proc/lampstat" and "/dev/hornio" belong to the emulated board
// and the real ones are never touched; every other path and descriptor passes straight
// through to libc.

// The entry points are defined side by side with their 64-bit and fortified variants, so the
// plain declarations of libc are wanted here, not ones redirected by these settings.
#undef _FILE_OFFSET_BITS
#undef _TIME_BITS
#undef _FORTIFY_SOURCE

#include "driver.h"
#include "logline.h"
#include "real.h"
#include "scenario.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <type_traits>
#include <unistd.h>

// musl's headers make the 64-bit names macros for the plain ones; here they are the symbols.
#undef open64
#undef fopen64

#define HORNEMU_EXPORT extern "C" __attribute__((visibility("default")))

namespace hornemu {
namespace {

constexpr char proc_path[] = HORNIO_LAMPSTAT_PATH;
constexpr char node_path[] = HORNIO_NODE_PATH;

enum class path_kind : unsigned char { none, proc, node };

// A descriptor handed out for one of the two paths. A node descriptor is a real descriptor of
// the scenario's file "node": with the emulated driver, what escapes the interposer (a write
// the C library makes on its own, a system call made directly) lands there harmlessly and can
// be seen afterwards; with a regular file or a FIFO in the node's place, "node" is that file and
// every operation reaches it for real.
struct emulated_fd {
    int fd;
    path_kind kind;
    bool readable;
    bool writable;
    bool driver; // a node descriptor of the emulated driver, not of a file in its place
};

emulated_fd descriptors[64];
FILE* proc_streams[16];

// The kind of path, when the emulated board owns it.
path_kind owned_path(const char* path) {
    if (path == nullptr) {
        return path_kind::none;
    }
    const path_kind kind = strcmp(path, proc_path) == 0   ? path_kind::proc
                           : strcmp(path, node_path) == 0 ? path_kind::node
                                                          : path_kind::none;
    return kind != path_kind::none && scenario_dir() != nullptr ? kind : path_kind::none;
}

// The entry of table that matches, or nullptr.
template <typename Entry, size_t Size, typename Match>
Entry* find_entry(Entry (&table)[Size], Match match) {
    Entry* found = std::find_if(table, table + Size, match);
    return found != table + Size ? found : nullptr;
}

emulated_fd* find_descriptor(int fd) {
    return find_entry(descriptors, [fd](const emulated_fd& entry) {
        return entry.kind != path_kind::none && entry.fd == fd;
    });
}

emulated_fd* node_descriptor(int fd) {
    emulated_fd* entry = find_descriptor(fd);
    return entry != nullptr && entry->kind == path_kind::node ? entry : nullptr;
}

emulated_fd* free_descriptor() {
    return find_entry(descriptors,
                      [](const emulated_fd& entry) { return entry.kind == path_kind::none; });
}

// Remembers fd as emulated; an entry left behind for the same number (closed behind the
// interposer's back) is dropped first.
void forget(int fd) {
    for (emulated_fd* stale = find_descriptor(fd); stale != nullptr; stale = find_descriptor(fd)) {
        stale->kind = path_kind::none;
    }
}

void track(emulated_fd* entry, int fd, path_kind kind, int flags, bool driver) {
    forget(fd);
    const int access = flags & O_ACCMODE;
    *entry = emulated_fd{fd, kind, access == O_RDONLY || access == O_RDWR,
                         access == O_WRONLY || access == O_RDWR, driver};
}

// " fd=N" for a descriptor of the standard streams, where a device node must never land;
// other numbers depend on the process and are left out.
void log_standard_fd(log_line& line, int fd) {
    if (fd >= 0 && fd <= STDERR_FILENO) {
        line.text(" fd=").decimal(fd);
    }
}

// Opens the scenario's "node" file for a node descriptor, as the board says: the sink behind
// the emulated driver, or the regular file or FIFO in the node's place (made when missing).
int open_node_file(int flags, mode_t mode, bool& driver) {
    const board_config& board = config();
    char file[path_max];
    scenario_path(file, "node");
    driver = board.node == node_type::device;
    if (driver) {
        return real::open(file, O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    }
    if (board.node == node_type::fifo && mkfifo(file, 0644) != 0 && errno != EEXIST) {
        return -1;
    }
    if (board.node == node_type::regular) {
        const int made = real::open(file, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (made < 0) {
            return -1;
        }
        real::close(made);
    }
    return real::open(file, flags, mode);
}

FILE** find_stream(const FILE* stream) {
    return find_entry(proc_streams, [stream](const FILE* entry) { return entry == stream; });
}

FILE** free_stream() {
    return find_stream(nullptr);
}

// " -> ok" (with the descriptor fd when it is a standard one) or " -> ENAME", ending the line.
void log_open_result(log_line& line, int error, int fd = -1) {
    line.text(" -> ");
    if (error == 0) {
        line.text("ok");
        log_standard_fd(line, fd);
    } else {
        line.error(error);
    }
    line.finish();
}

// The failure configured for opening a path, or 0.
int configured_open_error(path_kind kind) {
    const board_config& board = config();
    if (kind == path_kind::proc) {
        return board.lampstat_errno;
    }
    return board.node_absent ? ENOENT : static_cast<int>(-hornio_model_open(&board.faults));
}

// open() and its variants on one of the two paths; false when the path is not emulated.
bool emulated_open(const char* path, int flags, mode_t mode, int& result) {
    const path_kind kind = owned_path(path);
    if (kind == path_kind::none) {
        return false;
    }
    const int saved = errno;
    emulated_fd* entry = free_descriptor();
    int error = configured_open_error(kind);
    result = -1;
    if (error == 0 && entry == nullptr) {
        error = EMFILE;
    } else if (error == 0 && kind == path_kind::proc) {
        char file[path_max];
        result = real::open(scenario_path(file, "lampstat"), flags, mode);
        error = result < 0 ? errno : 0;
    }
    bool driver = false;
    if (error == 0 && kind == path_kind::node) {
        result = open_node_file(flags, mode, driver);
        error = result < 0 ? errno : 0;
    }
    if (result >= 0) {
        track(entry, result, kind, flags, driver);
    }
    log_line line;
    line.text("open ").text(path).text(" flags=").open_flags(flags);
    log_open_result(line, error, result);
    errno = error != 0 ? error : saved;
    return true;
}

using fopen_fn = FILE* (*)(const char*, const char*);

FILE* emulated_fopen(const char* path, const char* mode, fopen_fn real_fopen) {
    const path_kind kind = owned_path(path);
    if (kind == path_kind::none) {
        return real_fopen(path, mode);
    }
    const int saved = errno;
    FILE** entry = free_stream();
    int error = configured_open_error(kind);
    FILE* stream = nullptr;
    if (error == 0 && kind == path_kind::node) {
        error = EOPNOTSUPP; // the emulated driver is reached through descriptors only
    } else if (error == 0 && entry == nullptr) {
        error = EMFILE;
    } else if (error == 0) {
        char file[path_max];
        stream = real_fopen(scenario_path(file, "lampstat"), mode);
        error = stream == nullptr ? errno : 0;
    }
    if (stream != nullptr) {
        *entry = stream;
    }
    log_line line;
    line.text("open ").text(path).text(" mode=").escaped(mode);
    log_open_result(line, error);
    errno = error != 0 ? error : saved;
    return stream;
}

// What a real call on a file in the node's place returned, as an outcome.
outcome real_outcome(long value) {
    return value < 0 ? outcome{-1, errno} : outcome{value, 0};
}

ssize_t emulated_read(emulated_fd& entry, void* buffer, size_t count) {
    const int saved = errno;
    const outcome result = !entry.driver     ? real_outcome(real::read(entry.fd, buffer, count))
                           : !entry.readable ? outcome{-1, EBADF}
                           : buffer == nullptr && count > 0 ? outcome{-1, EFAULT}
                                                            : driver_read(buffer, count);
    log_line line;
    line.text("read ").text(node_path).text(" count=").unsigned_decimal(count);
    line.result(result.value, result.error);
    if (result.error == 0 && result.value > 0) {
        const auto returned = static_cast<size_t>(result.value);
        line.text(" data=").hex_bytes(buffer, returned < count ? returned : count);
    }
    line.finish();
    errno = result.error != 0 ? result.error : saved;
    return result.error != 0 ? -1 : static_cast<ssize_t>(result.value);
}

ssize_t emulated_write(emulated_fd& entry, const void* bytes, size_t count) {
    const int saved = errno;
    const outcome result = !entry.driver     ? real_outcome(real::write(entry.fd, bytes, count))
                           : !entry.writable ? outcome{-1, EBADF}
                           : bytes == nullptr && count > 0 ? outcome{-1, EFAULT}
                                                           : driver_write(bytes, count);
    log_line line;
    line.text("write ").text(node_path).text(" count=").unsigned_decimal(count).text(" data=");
    if (bytes != nullptr) {
        line.hex_bytes(bytes, count);
    }
    line.result(result.value, result.error).finish();
    errno = result.error != 0 ? result.error : saved;
    return result.error != 0 ? -1 : static_cast<ssize_t>(result.value);
}

int emulated_ioctl(const emulated_fd& entry, unsigned long request, void* argument) {
    const int saved = errno;
    const bool has_word = request_has_word(request);
    auto* word = static_cast<uint32_t*>(argument);
    log_line line;
    line.text("ioctl ").text(node_path).text(" request=").hex32(static_cast<uint32_t>(request));
    if (has_word && word != nullptr) {
        line.text(" word=").hex32(*word);
    } else if (has_word) {
        line.text(" word=null");
    }
    bool filled = false;
    const outcome result =
        entry.driver ? driver_request(request, word, filled)
                     : real_outcome(real::ioctl(entry.fd, as_ioctl_request(request), argument));
    line.result(result.value, result.error);
    if (filled) {
        line.text(" word=").hex32(*word);
    }
    line.finish();
    errno = result.error != 0 ? result.error : saved;
    return result.error != 0 ? -1 : static_cast<int>(result.value);
}

int emulated_close(emulated_fd& entry) {
    const int saved = errno;
    const path_kind kind = entry.kind;
    entry.kind = path_kind::none;
    // The emulated driver's release always succeeds.
    const int result = real::close(entry.fd) != 0 && !entry.driver ? -1 : 0;
    const int error = result != 0 ? errno : 0;
    log_line line;
    if (kind == path_kind::node) {
        line.text("close ").text(node_path);
        log_standard_fd(line, entry.fd);
        line.result(result, error).finish();
    } else {
        line.text("close ").text(proc_path).finish();
    }
    errno = error != 0 ? error : saved;
    return result;
}

// A duplicate of a descriptor of the two paths is the same open file: it is followed like the
// original and logged. result is what the real call returned.
int followed_duplicate(int fd, int result, int error) {
    const emulated_fd* original = find_descriptor(fd);
    emulated_fd* entry = original != nullptr && result >= 0 ? free_descriptor() : nullptr;
    if (result >= 0) {
        forget(result); // the number now belongs to the duplicate
    }
    if (original == nullptr) {
        errno = error;
        return result;
    }
    if (result >= 0 && entry == nullptr) {
        real::close(result);
        result = -1;
        error = EMFILE;
    } else if (result >= 0) {
        *entry = *original;
        entry->fd = result;
    }
    log_line line;
    line.text("dup ").text(original->kind == path_kind::node ? node_path : proc_path);
    log_standard_fd(line, fd);
    log_open_result(line, result < 0 ? error : 0, result);
    errno = error;
    return result;
}

bool needs_mode(int flags) {
    return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
}

} // namespace

bool is_driver_node(int fd) {
    const emulated_fd* entry = node_descriptor(fd);
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

namespace {

// open and open64: the two paths are the emulated board's, any other goes to the C library
// function Real. rest holds the arguments after the flags, where open's mode is when the flags
// create a file.
template <auto Real>
int open_entry(const char* path, int flags, va_list* rest) {
    mode_t mode = 0;
    if (needs_mode(flags)) {
        mode = static_cast<mode_t>(va_arg(*rest, int));
    }
    int result = -1;
    return emulated_open(path, flags, mode, result) ? result : Real(path, flags, mode);
}

} // namespace

HORNEMU_EXPORT int open(const char* path, int flags, ...) {
    va_list rest;
    va_start(rest, flags);
    const int result = open_entry<real::open>(path, flags, &rest);
    va_end(rest);
    return result;
}

HORNEMU_EXPORT int open64(const char* path, int flags, ...) {
    va_list rest;
    va_start(rest, flags);
    const int result = open_entry<real::open64>(path, flags, &rest);
    va_end(rest);
    return result;
}

HORNEMU_EXPORT FILE* fopen(const char* path, const char* mode) {
    return emulated_fopen(path, mode, real::fopen);
}

HORNEMU_EXPORT FILE* fopen64(const char* path, const char* mode) {
    return emulated_fopen(path, mode, real::fopen64);
}

HORNEMU_EXPORT int fclose(FILE* stream) {
    FILE** entry = find_stream(stream);
    if (entry == nullptr) {
        return real::fclose(stream);
    }
    const int saved = errno;
    *entry = nullptr;
    const int result = real::fclose(stream);
    const int error = result != 0 ? errno : 0;
    log_line line;
    line.text("close ").text(proc_path).finish();
    errno = error != 0 ? error : saved;
    return result;
}

HORNEMU_EXPORT ssize_t read(int fd, void* buffer, size_t count) {
    emulated_fd* entry = node_descriptor(fd);
    return entry != nullptr ? emulated_read(*entry, buffer, count) : real::read(fd, buffer, count);
}

HORNEMU_EXPORT ssize_t write(int fd, const void* bytes, size_t count) {
    emulated_fd* entry = node_descriptor(fd);
    return entry != nullptr ? emulated_write(*entry, bytes, count) : real::write(fd, bytes, count);
}

HORNEMU_EXPORT int ioctl(int fd, ioctl_request request, ...) {
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    emulated_fd* entry = node_descriptor(fd);
    return entry != nullptr ? emulated_ioctl(*entry, request_number(request), argument)
                            : real::ioctl(fd, request, argument);
}

HORNEMU_EXPORT int __ioctl_time64(int fd, unsigned long request, ...) {
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    emulated_fd* entry = node_descriptor(fd);
    return entry != nullptr ? emulated_ioctl(*entry, request, argument)
                            : real::ioctl_time64(fd, request, argument);
}

HORNEMU_EXPORT int close(int fd) {
    emulated_fd* entry = find_descriptor(fd);
    return entry != nullptr ? emulated_close(*entry) : real::close(fd);
}

namespace {

// fcntl and its variants through the C library function Real; a duplicate of a descriptor of
// the two paths is followed.
template <auto Real>
int fcntl_entry(int fd, int command, void* argument) {
    const int result = Real(fd, command, argument);
    const bool duplicates = command == F_DUPFD || command == F_DUPFD_CLOEXEC;
    return duplicates ? followed_duplicate(fd, result, errno) : result;
}

} // namespace

HORNEMU_EXPORT int fcntl(int fd, int command, ...) {
    va_list arguments;
    va_start(arguments, command);
    const int result = fcntl_entry<real::fcntl>(fd, command, va_arg(arguments, void*));
    va_end(arguments);
    return result;
}

#ifdef __GLIBC__
HORNEMU_EXPORT int fcntl64(int fd, int command, ...) {
    va_list arguments;
    va_start(arguments, command);
    const int result = fcntl_entry<real::fcntl64>(fd, command, va_arg(arguments, void*));
    va_end(arguments);
    return result;
}
#endif

HORNEMU_EXPORT int __fcntl_time64(int fd, int command, ...) {
    va_list arguments;
    va_start(arguments, command);
    const int result = fcntl_entry<real::fcntl_time64>(fd, command, va_arg(arguments, void*));
    va_end(arguments);
    return result;
}

HORNEMU_EXPORT int fstat(int fd, struct stat* info) {
    return as_device(fd, real::fstat(fd, info), info);
}

#ifdef __GLIBC__
HORNEMU_EXPORT int fstat64(int fd, struct stat64* info) {
    return as_device(fd, real::fstat64(fd, info), info);
}
#endif
