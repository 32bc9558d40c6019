// The C library entry points libhornemu.so puts in front of libc's own. While HORNEMU_DIR
// names a scenario directory, "/proc/lampstat" and "/dev/hornio" belong to the emulated board
// and the real ones are never touched; every other path and descriptor passes straight
// through. The exec and spawn functions only note in the scenario's "loaded" that a program
// is started, so that hornemu can tell whether every program of a run had the library.

// The entry points are defined side by side with their 64-bit variants, so the plain
// declarations of libc are wanted here, not ones redirected by these settings.
#undef _FILE_OFFSET_BITS
#undef _TIME_BITS
#undef _FORTIFY_SOURCE

#include "board.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <fcntl.h>
#include <iterator>
#include <spawn.h>
#include <sys/ioctl.h>
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

// A descriptor handed out for one of the two paths: a real descriptor of the scenario's file
// "lampstat", or of "node". Behind the emulated driver (driver set), "node" takes harmlessly
// whatever escapes the interposer, to be seen afterwards; a regular file or FIFO in the node's
// place is "node" itself, and every operation reaches it for real.
struct emulated_fd {
    int fd;
    path_kind kind;
    bool readable;
    bool writable;
    bool driver;
};

emulated_fd descriptors[64];
FILE* proc_streams[16];

path_kind owned_path(const char* path) {
    const path_kind kind = path == nullptr                     ? path_kind::none
                           : std::strcmp(path, proc_path) == 0 ? path_kind::proc
                           : std::strcmp(path, node_path) == 0 ? path_kind::node
                                                               : path_kind::none;
    return kind != path_kind::none && scenario_dir() != nullptr ? kind : path_kind::none;
}

emulated_fd* find_descriptor(int fd, bool node_only = false) {
    emulated_fd* found = std::find_if(
        std::begin(descriptors), std::end(descriptors),
        [fd](const emulated_fd& entry) { return entry.kind != path_kind::none && entry.fd == fd; });
    return found == std::end(descriptors) || (node_only && found->kind != path_kind::node) ? nullptr
                                                                                           : found;
}

// A free entry for fd, or nullptr; an entry left for the same number (closed behind the
// interposer's back) is dropped first.
emulated_fd* free_descriptor(int fd) {
    for (emulated_fd* stale = find_descriptor(fd); stale != nullptr; stale = find_descriptor(fd)) {
        stale->kind = path_kind::none;
    }
    emulated_fd* found =
        std::find_if(std::begin(descriptors), std::end(descriptors),
                     [](const emulated_fd& e) { return e.kind == path_kind::none; });
    return found != std::end(descriptors) ? found : nullptr;
}

FILE** find_stream(const FILE* stream) {
    FILE** found = std::find(std::begin(proc_streams), std::end(proc_streams), stream);
    return found != std::end(proc_streams) ? found : nullptr;
}

// " fd=N" for a descriptor of the standard streams, where a device node must never land;
// other numbers depend on the process and are left out.
log_line& standard_fd(log_line& line, int fd) {
    return fd >= 0 && fd <= STDERR_FILENO ? line.text(" fd=").decimal(fd) : line;
}

// " -> ok" (with the descriptor when it is a standard one) or " -> ENAME", ending the line.
void log_opened(log_line& line, int error, int fd = -1) {
    line.text(" -> ");
    if (error == 0) {
        standard_fd(line.text("ok"), fd);
    } else {
        line.error(error);
    }
    line.finish();
}

// errno as an intercepted call leaves it: the operation's error, or unchanged on success.
template <typename Result>
Result returning(Result result, int error, int saved) {
    errno = error != 0 ? error : saved;
    return result;
}

// The scenario's file behind a node descriptor, as the board says: the sink behind the
// emulated driver, or the regular file or FIFO in the node's place (made when missing).
int open_node_file(int flags, mode_t mode) {
    char file[path_max];
    scenario_path(file, "node");
    const auto open = libc<int (*)(const char*, int, ...)>("open");
    const node_type node = config().node;
    if (node == node_type::device) {
        return open(file, O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    }
    const int made = node == node_type::fifo ? mkfifo(file, 0644)
                                             : open(file, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (made < 0 && errno != EEXIST) {
        return -1;
    }
    if (node == node_type::regular) {
        libc<int (*)(int)>("close")(made);
    }
    return open(file, flags, mode);
}

int open_error(path_kind kind) {
    const board_config& board = config();
    return kind == path_kind::proc           ? board.lampstat_errno
           : board.node == node_type::absent ? ENOENT
                                             : static_cast<int>(-hornio_model_open(&board.faults));
}

int emulated_open(path_kind kind, const char* path, int flags, mode_t mode) {
    const int saved = errno;
    int error = open_error(kind);
    int fd = -1;
    if (error == 0) {
        char file[path_max];
        fd = kind == path_kind::node ? open_node_file(flags, mode)
                                     : libc<int (*)(const char*, int, ...)>("open")(
                                           scenario_path(file, "lampstat"), flags, mode);
        error = fd < 0 ? errno : 0;
    }
    emulated_fd* entry = fd >= 0 ? free_descriptor(fd) : nullptr;
    if (fd >= 0 && entry == nullptr) {
        libc<int (*)(int)>("close")(fd);
        fd = -1;
        error = EMFILE;
    } else if (fd >= 0) {
        const int access = flags & O_ACCMODE;
        *entry = emulated_fd{fd, kind, access != O_WRONLY, access != O_RDONLY,
                             kind == path_kind::node && config().node == node_type::device};
    }
    log_line line;
    line.text("open ").text(path).text(" flags=").flags(flags);
    log_opened(line, error, fd);
    return returning(fd, error, saved);
}

FILE* emulated_fopen(const char* path, const char* mode, const char* real) {
    const auto fopen = libc<FILE* (*)(const char*, const char*)>(real);
    const path_kind kind = owned_path(path);
    if (kind == path_kind::none) {
        return fopen(path, mode);
    }
    const int saved = errno;
    FILE** entry = find_stream(nullptr);
    int error = open_error(kind);
    FILE* stream = nullptr;
    if (error == 0 && kind == path_kind::node) {
        error = EOPNOTSUPP; // the emulated driver is reached through descriptors only
    } else if (error == 0 && entry == nullptr) {
        error = EMFILE;
    } else if (error == 0) {
        char file[path_max];
        stream = fopen(scenario_path(file, "lampstat"), mode);
        error = stream == nullptr ? errno : 0;
    }
    if (stream != nullptr) {
        *entry = stream;
    }
    log_line line;
    line.text("open ").text(path).text(" mode=").escaped(mode);
    log_opened(line, error);
    return returning(stream, error, saved);
}

// What a real call on a file in the node's place returned, as an outcome.
outcome real_outcome(long value) {
    return value < 0 ? outcome{-1, errno} : outcome{value, 0};
}

ssize_t emulated_read(const emulated_fd& entry, void* buffer, size_t count) {
    const int saved = errno;
    const outcome result =
        !entry.driver
            ? real_outcome(libc<ssize_t (*)(int, void*, size_t)>("read")(entry.fd, buffer, count))
        : !entry.readable                ? outcome{-1, EBADF}
        : buffer == nullptr && count > 0 ? outcome{-1, EFAULT}
                                         : driver_read(buffer, count);
    log_line line;
    line.text("read ").text(node_path).text(" count=").count(count);
    line.result(result.value, result.error);
    if (result.error == 0 && result.value > 0) {
        // The program received count bytes at most, whatever the driver said.
        line.text(" data=").hex(buffer, std::min(static_cast<size_t>(result.value), count));
    }
    line.finish();
    return returning(static_cast<ssize_t>(result.value), result.error, saved);
}

ssize_t emulated_write(const emulated_fd& entry, const void* bytes, size_t count) {
    const int saved = errno;
    const auto write = libc<ssize_t (*)(int, const void*, size_t)>("write");
    const outcome result = !entry.driver     ? real_outcome(write(entry.fd, bytes, count))
                           : !entry.writable ? outcome{-1, EBADF}
                           : bytes == nullptr && count > 0 ? outcome{-1, EFAULT}
                                                           : driver_write(bytes, count);
    log_line line;
    line.text("write ").text(node_path).text(" count=").count(count).text(" data=");
    line.hex(bytes, bytes != nullptr ? count : 0).result(result.value, result.error).finish();
    return returning(static_cast<ssize_t>(result.value), result.error, saved);
}

// A request on a node descriptor; Request is the type the entry point real takes.
template <typename Request>
int emulated_ioctl(const emulated_fd& entry, Request request, void* argument, const char* real) {
    const int saved = errno;
    const auto number = static_cast<uint32_t>(request); // the kernel reads the low 32 bits
    auto* word = static_cast<uint32_t*>(argument);
    log_line line;
    line.text("ioctl ").text(node_path).text(" request=").hex32(number);
    if (hornio_request_has_word(number) != 0) {
        (word != nullptr ? line.text(" word=").hex32(*word) : line.text(" word=null"));
    }
    bool filled = false;
    const outcome result =
        entry.driver
            ? driver_request(number, word, filled)
            : real_outcome(libc<int (*)(int, Request, ...)>(real)(entry.fd, request, argument));
    line.result(result.value, result.error);
    (filled ? line.text(" word=").hex32(*word) : line).finish();
    return returning(static_cast<int>(result.value), result.error, saved);
}

// A duplicate of a descriptor of the two paths is the same open file: followed like the
// original, and logged. result and error are what the real call gave.
int followed_duplicate(int fd, int result, int error) {
    const emulated_fd* original = find_descriptor(fd);
    emulated_fd* entry = result >= 0 ? free_descriptor(result) : nullptr;
    if (original == nullptr) {
        return returning(result, error, error);
    }
    if (result >= 0 && entry == nullptr) {
        libc<int (*)(int)>("close")(result);
        result = -1;
        error = EMFILE;
    } else if (result >= 0) {
        *entry = *original;
        entry->fd = result;
    }
    log_line line;
    standard_fd(line.text("dup ").text(original->kind == path_kind::node ? node_path : proc_path),
                fd);
    log_opened(line, result < 0 ? error : 0, result);
    return returning(result, error, error);
}

// open and its variants, through the C library's function real for any other path. rest holds
// the arguments after the flags, where the mode is when the flags create a file.
int open_entry(const char* real, const char* path, int flags, va_list* rest) {
    const bool creates = (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
    const auto mode = static_cast<mode_t>(creates ? va_arg(*rest, int) : 0);
    const path_kind kind = owned_path(path);
    return kind != path_kind::none ? emulated_open(kind, path, flags, mode)
                                   : libc<int (*)(const char*, int, ...)>(real)(path, flags, mode);
}

template <typename Request>
int ioctl_entry(const char* real, int fd, Request request, void* argument) {
    const emulated_fd* entry = find_descriptor(fd, true);
    return entry != nullptr ? emulated_ioctl(*entry, request, argument, real)
                            : libc<int (*)(int, Request, ...)>(real)(fd, request, argument);
}

int fcntl_entry(const char* real, int fd, int command, void* argument) {
    const int result = libc<int (*)(int, int, ...)>(real)(fd, command, argument);
    const bool duplicates = command == F_DUPFD || command == F_DUPFD_CLOEXEC;
    return duplicates ? followed_duplicate(fd, result, errno) : result;
}

void note(const char* kind, pid_t pid) {
    if (scenario_dir() != nullptr) {
        const int saved = errno;
        log_line("loaded").text(kind).count(static_cast<size_t>(pid)).finish();
        errno = saved;
    }
}

using exec_fn = int (*)(const char*, char* const*, char* const*);

// An exec between its two notes: "exec PID" before, "stay PID" when it failed.
int noted_exec(const char* real, const char* file, char* const* argv, char* const* envp) {
    note("exec ", getpid());
    const int result = libc<exec_fn>(real)(file, argv, envp);
    note("stay ", getpid());
    return result;
}

// execl and its variants: the arguments after arg up to the null one, and for execle then the
// environment.
int list_exec(const char* real, const char* file, const char* arg, va_list& rest,
              bool with_environment) {
    char* argv[4096] = {};
    // exec's argv is char* const*, though no exec writes through it.
    char* next = const_cast<char*>(arg); // NOLINT(cppcoreguidelines-pro-type-const-cast)
    size_t count = 0;
    for (; next != nullptr && count + 1 < std::size(argv); next = va_arg(rest, char*)) {
        argv[count++] = next;
    }
    char* const* envp = with_environment ? va_arg(rest, char* const*) : environ;
    return next != nullptr ? returning(-1, E2BIG, 0) : noted_exec(real, file, argv, envp);
}

using spawn_fn = int (*)(pid_t*, const char*, const posix_spawn_file_actions_t*,
                         const posix_spawnattr_t*, char* const*, char* const*);

int noted_spawn(const char* real, pid_t* pid, const char* path,
                const posix_spawn_file_actions_t* actions, const posix_spawnattr_t* attributes,
                char* const* argv, char* const* envp) {
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

bool is_driver_node(int fd) {
    const emulated_fd* entry = find_descriptor(fd, true);
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

HORNEMU_EXPORT int open(const char* path, int flags, ...) {
    va_list rest;
    va_start(rest, flags);
    const int result = open_entry("open", path, flags, &rest);
    va_end(rest);
    return result;
}

HORNEMU_EXPORT int open64(const char* path, int flags, ...) {
    va_list rest;
    va_start(rest, flags);
    const int result = open_entry("open64", path, flags, &rest);
    va_end(rest);
    return result;
}

HORNEMU_EXPORT FILE* fopen(const char* path, const char* mode) {
    return emulated_fopen(path, mode, "fopen");
}

HORNEMU_EXPORT FILE* fopen64(const char* path, const char* mode) {
    return emulated_fopen(path, mode, "fopen64");
}

HORNEMU_EXPORT int fclose(FILE* stream) {
    FILE** entry = find_stream(stream);
    const int saved = errno;
    const int result = libc<int (*)(FILE*)>("fclose")(stream);
    if (entry != nullptr) {
        const int error = result != 0 ? errno : 0;
        *entry = nullptr;
        log_line().text("close ").text(proc_path).finish();
        returning(0, error, saved);
    }
    return result;
}

HORNEMU_EXPORT ssize_t read(int fd, void* buffer, size_t count) {
    const emulated_fd* entry = find_descriptor(fd, true);
    return entry != nullptr ? emulated_read(*entry, buffer, count)
                            : libc<ssize_t (*)(int, void*, size_t)>("read")(fd, buffer, count);
}

HORNEMU_EXPORT ssize_t write(int fd, const void* bytes, size_t count) {
    const emulated_fd* entry = find_descriptor(fd, true);
    return entry != nullptr
               ? emulated_write(*entry, bytes, count)
               : libc<ssize_t (*)(int, const void*, size_t)>("write")(fd, bytes, count);
}

// glibc's request is an unsigned long, musl's an int: the declared type, passed on as it came.
template <typename Request>
Request request_of(int (*)(int, Request, ...));
using ioctl_request = decltype(request_of(&::ioctl));

HORNEMU_EXPORT int ioctl(int fd, ioctl_request request, ...) {
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    return ioctl_entry("ioctl", fd, request, argument);
}

HORNEMU_EXPORT int __ioctl_time64(int fd, unsigned long request, ...) {
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    return ioctl_entry("__ioctl_time64", fd, request, argument);
}

HORNEMU_EXPORT int close(int fd) {
    emulated_fd* entry = find_descriptor(fd);
    if (entry == nullptr) {
        return libc<int (*)(int)>("close")(fd);
    }
    const int saved = errno;
    const path_kind kind = entry->kind;
    entry->kind = path_kind::none;
    // The emulated driver's release always succeeds.
    const int result = libc<int (*)(int)>("close")(fd) != 0 && !entry->driver ? -1 : 0;
    const int error = result != 0 ? errno : 0;
    log_line line;
    if (kind == path_kind::node) {
        standard_fd(line.text("close ").text(node_path), fd).result(result, error).finish();
    } else {
        line.text("close ").text(proc_path).finish();
    }
    return returning(result, error, saved);
}

HORNEMU_EXPORT int fcntl(int fd, int command, ...) {
    va_list arguments;
    va_start(arguments, command);
    const int result = fcntl_entry("fcntl", fd, command, va_arg(arguments, void*));
    va_end(arguments);
    return result;
}

HORNEMU_EXPORT int __fcntl_time64(int fd, int command, ...) {
    va_list arguments;
    va_start(arguments, command);
    const int result = fcntl_entry("__fcntl_time64", fd, command, va_arg(arguments, void*));
    va_end(arguments);
    return result;
}

HORNEMU_EXPORT int fstat(int fd, struct stat* info) {
    return as_device(fd, libc<int (*)(int, struct stat*)>("fstat")(fd, info), info);
}

#ifdef __GLIBC__
HORNEMU_EXPORT int fcntl64(int fd, int command, ...) {
    va_list arguments;
    va_start(arguments, command);
    const int result = fcntl_entry("fcntl64", fd, command, va_arg(arguments, void*));
    va_end(arguments);
    return result;
}

HORNEMU_EXPORT int fstat64(int fd, struct stat64* info) {
    return as_device(fd, libc<int (*)(int, struct stat64*)>("fstat64")(fd, info), info);
}
#endif

HORNEMU_EXPORT int execve(const char* path, char* const* argv, char* const* envp) {
    return noted_exec("execve", path, argv, envp);
}

HORNEMU_EXPORT int execvpe(const char* file, char* const* argv, char* const* envp) {
    return noted_exec("execvpe", file, argv, envp);
}

HORNEMU_EXPORT int execv(const char* path, char* const* argv) {
    return noted_exec("execve", path, argv, environ);
}

HORNEMU_EXPORT int execvp(const char* file, char* const* argv) {
    return noted_exec("execvpe", file, argv, environ);
}

HORNEMU_EXPORT int fexecve(int fd, char* const* argv, char* const* envp) {
    note("exec ", getpid());
    const int result = libc<int (*)(int, char* const*, char* const*)>("fexecve")(fd, argv, envp);
    note("stay ", getpid());
    return result;
}

HORNEMU_EXPORT int execl(const char* path, const char* arg, ...) {
    va_list rest;
    va_start(rest, arg);
    const int result = list_exec("execve", path, arg, rest, false);
    va_end(rest);
    return result;
}

HORNEMU_EXPORT int execlp(const char* file, const char* arg, ...) {
    va_list rest;
    va_start(rest, arg);
    const int result = list_exec("execvpe", file, arg, rest, false);
    va_end(rest);
    return result;
}

HORNEMU_EXPORT int execle(const char* path, const char* arg, ...) {
    va_list rest;
    va_start(rest, arg);
    const int result = list_exec("execve", path, arg, rest, true);
    va_end(rest);
    return result;
}

HORNEMU_EXPORT int posix_spawn(pid_t* pid, const char* path,
                               const posix_spawn_file_actions_t* actions,
                               const posix_spawnattr_t* attributes, char* const* argv,
                               char* const* envp) {
    return noted_spawn("posix_spawn", pid, path, actions, attributes, argv, envp);
}

HORNEMU_EXPORT int posix_spawnp(pid_t* pid, const char* file,
                                const posix_spawn_file_actions_t* actions,
                                const posix_spawnattr_t* attributes, char* const* argv,
                                char* const* envp) {
    return noted_spawn("posix_spawnp", pid, file, actions, attributes, argv, envp);
}
