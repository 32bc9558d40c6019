#include "in_process_board.h"

#include "driver_model/hornio_model.h"
#include "run.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csetjmp>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/mman.h>
#include <unistd.h>

// The linker's --wrap names: __wrap_f receives the calls of f, __real_f is f.
// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
extern "C" {
int __real_open64(const char* path, int flags, ...);
FILE* __real_fopen64(const char* path, const char* mode);
ssize_t __real_read(int fd, void* buffer, size_t count);
ssize_t __real_write(int fd, const void* buffer, size_t count);
int __real_ioctl(int fd, unsigned long request, ...);
int __real_close(int fd);
}

namespace fuzz {
namespace {

const board* current = nullptr;
hornio_model model;
hornio_faults faults;
bool node_is_device = true;
run_result result;
std::string_view proc_left; // what a read of the proc file has yet to return
std::jmp_buf end_point;
FILE* const process_out = stdout; // the process's own standard streams, swapped during a run
FILE* const process_err = stderr;

// The node's descriptors, a character device or a regular file: opened once and never closed,
// so that their numbers never belong to anything else; no call on them reaches the kernel.
int node_fd(bool device) {
    static const int character = __real_open64("/dev/null", O_RDWR);
    static const int regular = memfd_create("node", 0);
    return device ? character : regular;
}

bool is_node(int fd) {
    return fd >= 0 && (fd == node_fd(true) || fd == node_fd(false));
}

// A run's standard output or standard error: a memory stream made once and rewound for each
// run (a stream per run would cost more than the run).
struct capture {
    std::array<char, size_t{64} * 1024> text{};
    FILE* stream = fmemopen(text.data(), text.size(), "w");
};

std::string written(const capture& to) {
    std::fflush(to.stream);
    return {to.text.data(), static_cast<size_t>(std::max(0L, std::ftell(to.stream)))};
}

// The node's faults for a selector byte (see board::fault): bit 0 whether there is one, bits 1
// and 2 which, bits 3 and 4 its errno.
void choose_faults(uint8_t selector) {
    static const std::array<long, 4> errors = {ENOENT, EACCES, EBUSY, EIO};
    const hornio_fault failure = {HORNIO_FAIL, errors.at((selector >> 3U) % errors.size())};
    const hornio_fault none{};
    result.fault = (selector & 1U) != 0;
    const unsigned kind = result.fault ? (selector >> 1U) % 4 : 4; // 4: none
    faults.open = kind == 0 ? failure : none;
    node_is_device = kind != 1;
    faults.write = kind == 2 ? hornio_fault{HORNIO_RETURN, 0} : kind == 3 ? failure : none;
    faults.read = faults.write;
    faults.request = kind == 2 ? hornio_fault{HORNIO_RETURN, 1} : faults.write;
}

ssize_t proc_read(void* /*cookie*/, char* buffer, size_t size) {
    if (proc_left.empty() && current->proc_error_after) {
        errno = EIO;
        return -1;
    }
    const size_t n = proc_left.copy(buffer, size);
    proc_left.remove_prefix(n);
    return static_cast<ssize_t>(n);
}

FILE* open_proc() {
    if (!current->proc) {
        errno = ENOENT;
        return nullptr;
    }
    const size_t end = current->proc_error_after.value_or(std::string_view::npos);
    proc_left = std::string_view(*current->proc).substr(0, end);
    cookie_io_functions_t functions{};
    functions.read = proc_read; // nothing to release: no close function
    return fopencookie(nullptr, "r", functions);
}

int open_node(int flags) {
    if ((flags & O_ACCMODE) != O_RDWR) {
        fail("the node was not opened read-write", result);
    }
    const long error = -hornio_model_open(&faults);
    if (error != 0) {
        errno = static_cast<int>(error);
        return -1;
    }
    ++result.opens;
    return node_fd(node_is_device);
}

// The driver's result as a system call's: -1 and errno, unless a fault chose the value.
long as_call(long value, const hornio_fault& fault, bool served) {
    ++result.operations;
    result.served = served;
    if (value < 0 && fault.kind != HORNIO_RETURN) {
        errno = static_cast<int>(-value);
        return -1;
    }
    return value;
}

} // namespace

run_result run(const board& on, void (*piece)(int, char**),
               const std::vector<std::string>& arguments) {
    std::vector<std::vector<char>> storage; // each argument in an allocation of exactly its size
    std::vector<char*> argv;
    for (size_t i = 0; i <= arguments.size(); ++i) {
        const std::string& argument = i == 0 ? "hornset" : arguments[i - 1];
        storage.emplace_back(argument.c_str(), argument.c_str() + argument.size() + 1);
        argv.push_back(storage.back().data());
    }
    argv.push_back(nullptr);

    static const capture out;
    static const capture err;
    current = &on;
    model = {};
    result = {};
    choose_faults(on.fault);
    std::fflush(stdout);
    std::fflush(stderr);
    stdout = out.stream;
    stderr = err.stream;
    std::rewind(stdout); // which clears the error indicator too
    std::rewind(stderr);
    optind = 0; // glibc: reinitialise getopt completely for this vector
    // setjmp and longjmp are the seam: the tool's frames hold no objects with destructors.
    if (setjmp(end_point) == 0) { // NOLINT(cert-err52-cpp)
        piece(static_cast<int>(arguments.size() + 1), argv.data());
    }
    result.out = written(out);
    result.err = written(err);
    stdout = process_out;
    stderr = process_err;
    return result;
}

void fail(const char* what, const run_result& finished) {
    stdout = process_out;
    stderr = process_err;
    const std::string report = "fuzz target property broken: " + std::string(what) + "\nstatus " +
                               std::to_string(finished.status) + "\n--- stdout\n" + finished.out +
                               "\n--- stderr\n" + finished.err + "\n---\n";
    std::fwrite(report.data(), 1, report.size(), stderr);
    std::abort();
}

} // namespace fuzz

// The tool's one way to end a run, replaced: back to run.
void end_run(int status) {
    fuzz::result.status = status;
    std::longjmp(fuzz::end_point, 1); // NOLINT(cert-err52-cpp): see run
}

extern "C" {

// The fuzz build is 64-bit, where glibc's open and fopen are open64 and fopen64: one wrapper
// serves both names, whichever the tool's build calls.
int __wrap_open64(const char* path, int flags, ...) {
    // The third argument is there only when the flags create a file.
    const bool creates = (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
    std::va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = creates ? static_cast<mode_t>(va_arg(arguments, unsigned int)) : 0;
    va_end(arguments);
    return std::strcmp(path, HORNIO_NODE_PATH) == 0 ? fuzz::open_node(flags)
                                                    : __real_open64(path, flags, mode);
}
int __wrap_open(const char* path, int flags, ...) __attribute__((alias("__wrap_open64")));

FILE* __wrap_fopen64(const char* path, const char* mode) {
    return std::strcmp(path, HORNIO_LAMPSTAT_PATH) == 0 ? fuzz::open_proc()
                                                        : __real_fopen64(path, mode);
}
FILE* __wrap_fopen(const char* path, const char* mode) __attribute__((alias("__wrap_fopen64")));

ssize_t __wrap_read(int fd, void* buffer, size_t count) {
    if (!fuzz::is_node(fd)) {
        return __real_read(fd, buffer, count);
    }
    std::string status(HORNIO_STATUS_MAX, '\0');
    status.resize(hornio_model_status(&fuzz::model, status.data(), status.size()));
    const std::string& reply = fuzz::current->reply ? *fuzz::current->reply : status;
    const long got = hornio_model_read(&fuzz::faults, reply.data(), reply.size(),
                                       static_cast<char*>(buffer), count);
    return fuzz::as_call(got, fuzz::faults.read, got > 0 && static_cast<size_t>(got) <= count);
}

ssize_t __wrap_write(int fd, const void* buffer, size_t count) {
    if (!fuzz::is_node(fd)) {
        return __real_write(fd, buffer, count);
    }
    fuzz::result.written = count;
    const long done =
        hornio_model_write(&fuzz::model, &fuzz::faults, static_cast<const char*>(buffer), count);
    return fuzz::as_call(done, fuzz::faults.write, done > 0);
}

int __wrap_ioctl(int fd, unsigned long request, ...) {
    std::va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    if (!fuzz::is_node(fd)) {
        return __real_ioctl(fd, request, argument);
    }
    fuzz::result.request = request;
    const long answer =
        hornio_model_request(&fuzz::model, &fuzz::faults, static_cast<unsigned int>(request),
                             static_cast<int32_t*>(argument));
    return static_cast<int>(fuzz::as_call(answer, fuzz::faults.request, answer == 0));
}

int __wrap_close(int fd) {
    if (fuzz::is_node(fd)) {
        ++fuzz::result.closes;
        return 0;
    }
    return __real_close(fd);
}

} // extern "C"
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
