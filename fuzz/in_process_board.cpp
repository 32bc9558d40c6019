#include "in_process_board.h"

#include "buzzer.h"
#include "run.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csetjmp>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

// The linker's --wrap names: __wrap_f receives the calls of f, __real_f is f.
// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
extern "C" {
int __real_open(const char* path, int flags, ...);
int __real_open64(const char* path, int flags, ...);
FILE* __real_fopen(const char* path, const char* mode);
FILE* __real_fopen64(const char* path, const char* mode);
ssize_t __real_read(int fd, void* buffer, size_t count);
ssize_t __real_write(int fd, const void* buffer, size_t count);
int __real_ioctl(int fd, unsigned long request, ...);
int __real_close(int fd);
int __real_fstat(int fd, struct stat* info);
int __real_fstat64(int fd, struct stat64* info);
}
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)

namespace fuzz {
namespace {

constexpr const char* node_path = HORNIO_NODE_PATH;
constexpr const char* proc_path = HORNIO_LAMPSTAT_PATH;

board_state current;

// The descriptor handed out for the node: a real one (of /dev/null, opened
// once and never closed) so that its number can never belong to anything
// else in the process, but no call on it ever reaches the kernel.
int node_fd() {
    static const int fd = __real_open("/dev/null", O_RDWR);
    return fd;
}

bool is_node(int fd) {
    return fd >= 0 && fd == node_fd();
}

// A run's standard output and standard error go to memory: two streams made
// once and rewound for every run (a stream per run would cost more than the
// run). A run writes a few kilobytes at most.
constexpr size_t capture_size = size_t{64} * 1024;

class capture {
  public:
    FILE* rewound() {
        if (stream == nullptr) {
            stream = fmemopen(buffer, sizeof buffer, "w");
            if (stream == nullptr) {
                std::abort();
            }
        }
        std::rewind(stream);
        std::clearerr(stream);
        return stream;
    }

    std::string text() {
        std::fflush(stream);
        const long length = std::ftell(stream);
        return {buffer, length > 0 ? static_cast<size_t>(length) : 0};
    }

  private:
    char buffer[capture_size]{};
    FILE* stream = nullptr;
};

capture out_capture;
capture err_capture;

// The process's own standard streams while a run's are captured.
FILE* saved_out = nullptr;
FILE* saved_err = nullptr;

std::jmp_buf end_point;
int end_status = -1;

// The proc file's read position: one file is open at a time.
size_t proc_position = 0;

ssize_t proc_read(void* /*cookie*/, char* buffer, size_t size) {
    const board_state& b = current;
    const size_t end =
        b.proc_error ? std::min(b.proc_error_after, b.proc_text.size()) : b.proc_text.size();
    if (proc_position >= end) {
        if (b.proc_error) {
            errno = EIO;
            return -1;
        }
        return 0;
    }
    const size_t n = std::min(size, end - proc_position);
    std::memcpy(buffer, b.proc_text.data() + proc_position, n);
    proc_position += n;
    return static_cast<ssize_t>(n);
}

FILE* open_proc() {
    if (!current.proc_present) {
        errno = ENOENT;
        return nullptr;
    }
    proc_position = 0;
    cookie_io_functions_t functions{};
    functions.read = proc_read; // nothing to release: no close function
    return fopencookie(nullptr, "r", functions);
}

int open_node(int flags) {
    if ((flags & O_ACCMODE) != O_RDWR) {
        fail("the node was not opened read-write", nullptr);
    }
    const long result = hornio_model_open(&current.faults);
    if (result < 0) {
        errno = static_cast<int>(-result);
        return -1;
    }
    ++current.opens;
    return node_fd();
}

// A driver's result as a system call's: -1 and errno for an error, unless a
// fault made it the return value.
long as_call(long result, const hornio_fault& fault) {
    current.driver_result = result;
    ++current.operations;
    if (result < 0 && fault.kind != HORNIO_RETURN) {
        errno = static_cast<int>(-result);
        return -1;
    }
    return result;
}

// open's third argument, in rest, is there only when the flags create a file.
int open_path(const char* path, int flags, std::va_list rest, int (*real)(const char*, int, ...)) {
    if (std::strcmp(path, node_path) == 0) {
        return open_node(flags);
    }
    if (std::strcmp(path, proc_path) == 0) {
        // The tool reads the proc file through stdio only; the real one is
        // never touched either way.
        errno = ENOENT;
        return -1;
    }
    const bool creates = (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): false; the caller's va_start
    return real(path, flags, creates ? static_cast<mode_t>(va_arg(rest, unsigned int)) : 0);
}

} // namespace

board_state& board() {
    return current;
}

namespace {

// Sets the node's behaviour from one byte of the input: half the runs meet a
// working driver, the others a failed open, a node that is not a device,
// transfers of 0 bytes (a request returning 1) or failures, with ENOENT,
// EACCES, EBUSY or EIO.
void choose_node_fault(uint8_t selector) {
    static const std::array<int, 4> errors = {ENOENT, EACCES, EBUSY, EIO};
    if ((selector & 1U) == 0) {
        return;
    }
    const long error = errors.at((selector >> 3U) % errors.size());
    hornio_faults& f = current.faults;
    switch ((selector >> 1U) % 4) {
    case 0:
        f.open = {HORNIO_FAIL, error};
        break;
    case 1:
        current.not_a_device = true;
        break;
    case 2:
        f.write = f.read = {HORNIO_RETURN, 0};
        f.request = {HORNIO_RETURN, 1};
        break;
    default:
        f.write = f.read = f.request = {HORNIO_FAIL, error};
        break;
    }
}

// An argument vector made from the input: argv[0] is "hornset", then one
// argument per NUL-separated piece of the bytes. Each argument has an
// allocation of its own, so a read past its end is caught. The vector is
// writable, as getopt permutes it.
class argument_vector {
  public:
    argument_vector(const uint8_t* data, size_t size) {
        std::vector<std::string> given;
        constexpr size_t most_arguments = 64;
        given.emplace_back("hornset");
        const uint8_t* start = data;
        const uint8_t* const end = data + size;
        while (start < end && given.size() <= most_arguments) {
            const uint8_t* const nul = std::find(start, end, 0);
            given.emplace_back(start, nul);
            start = nul + 1;
        }
        for (const std::string& argument : given) {
            storage_.emplace_back(new char[argument.size() + 1]);
            std::memcpy(storage_.back().get(), argument.c_str(), argument.size() + 1);
            pointers_.push_back(storage_.back().get());
        }
        pointers_.push_back(nullptr);
    }
    [[nodiscard]] int argc() const { return static_cast<int>(pointers_.size()) - 1; }
    char** argv() { return pointers_.data(); }

  private:
    std::vector<std::unique_ptr<char[]>> storage_;
    std::vector<char*> pointers_;
};

} // namespace

void start_run() {
    current = board_state{};
    end_status = -1;
    std::fflush(stdout);
    std::fflush(stderr);
    saved_out = stdout;
    saved_err = stderr;
    stdout = out_capture.rewound();
    stderr = err_capture.rewound();
}

int run_front_end(void (*front_end)(int, char**), int argc, char** argv) {
    // setjmp and longjmp are the seam: the tool's frames hold no objects
    // with destructors to skip.
    if (setjmp(end_point) == 0) { // NOLINT(cert-err52-cpp)
        front_end(argc, argv);
        return -1;
    }
    return end_status;
}

run_result finish_run(int status) {
    run_result result;
    result.status = status;
    if (saved_out == nullptr) {
        return result;
    }
    result.out = out_capture.text();
    result.err = err_capture.text();
    stdout = saved_out;
    stderr = saved_err;
    saved_out = nullptr;
    saved_err = nullptr;
    return result;
}

run_result run_on_input(void (*front_end)(int, char**), const uint8_t* data, size_t size) {
    start_run();
    choose_node_fault(data[0]);
    argument_vector arguments(data + 1, size - 1);
    optind = 0; // glibc: reinitialise getopt completely for this vector
    return finish_run(run_front_end(front_end, arguments.argc(), arguments.argv()));
}

void check_run(const run_result& result) {
    if (result.status != 0 && result.status != 1) {
        fail("status is neither 0 nor 1", &result);
    }
    if (current.opens > 1 || current.operations > 1 || current.closes > current.opens) {
        fail("more than one device operation", &result);
    }
}

void fail(const char* what, const run_result* result) {
    run_result captured = finish_run(result != nullptr ? result->status : end_status);
    if (result != nullptr) {
        captured = *result;
    }
    std::fprintf(stderr, "fuzz target expectation broken: %s\n", what);
    std::fprintf(stderr, "status %d\n--- stdout (%zu bytes)\n", captured.status,
                 captured.out.size());
    std::fwrite(captured.out.data(), 1, captured.out.size(), stderr);
    std::fprintf(stderr, "\n--- stderr (%zu bytes)\n", captured.err.size());
    std::fwrite(captured.err.data(), 1, captured.err.size(), stderr);
    std::fputs("\n---\n", stderr);
    std::abort();
}

} // namespace fuzz

// The tool's one way to end a run, replaced: back to run_front_end.
void end_run(int status) {
    fuzz::end_status = status;
    std::longjmp(fuzz::end_point, 1); // NOLINT(cert-err52-cpp): see run_front_end
}

namespace fuzz {
namespace {

// The node's status as the real call gave it, made a regular file's under the
// "not a device" fault.
template <typename Status>
int node_status(int fd, Status* info, int (*real)(int, Status*)) {
    const int result = real(fd, info);
    if (result == 0 && is_node(fd) && current.not_a_device) {
        info->st_mode = S_IFREG | 0644;
    }
    return result;
}

} // namespace
} // namespace fuzz

// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
extern "C" {

int __wrap_open(const char* path, int flags, ...) {
    std::va_list arguments;
    va_start(arguments, flags);
    const int result = fuzz::open_path(path, flags, arguments, __real_open);
    va_end(arguments);
    return result;
}

int __wrap_open64(const char* path, int flags, ...) {
    std::va_list arguments;
    va_start(arguments, flags);
    const int result = fuzz::open_path(path, flags, arguments, __real_open64);
    va_end(arguments);
    return result;
}

FILE* __wrap_fopen(const char* path, const char* mode) {
    return std::strcmp(path, fuzz::proc_path) == 0 ? fuzz::open_proc() : __real_fopen(path, mode);
}

FILE* __wrap_fopen64(const char* path, const char* mode) {
    return std::strcmp(path, fuzz::proc_path) == 0 ? fuzz::open_proc() : __real_fopen64(path, mode);
}

ssize_t __wrap_read(int fd, void* buffer, size_t count) {
    if (!fuzz::is_node(fd)) {
        return __real_read(fd, buffer, count);
    }
    fuzz::board_state& b = fuzz::current;
    if (!b.own_reply) {
        b.reply.resize(HORNIO_STATUS_MAX);
        b.reply.resize(hornio_model_status(&b.model, b.reply.data(), b.reply.size()));
    }
    return fuzz::as_call(hornio_model_read(&b.faults, b.reply.data(), b.reply.size(),
                                           static_cast<char*>(buffer), count),
                         b.faults.read);
}

ssize_t __wrap_write(int fd, const void* buffer, size_t count) {
    if (!fuzz::is_node(fd)) {
        return __real_write(fd, buffer, count);
    }
    fuzz::board_state& b = fuzz::current;
    b.written.assign(static_cast<const char*>(buffer), count);
    return fuzz::as_call(
        hornio_model_write(&b.model, &b.faults, static_cast<const char*>(buffer), count),
        b.faults.write);
}

int __wrap_ioctl(int fd, unsigned long request, ...) {
    std::va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    if (!fuzz::is_node(fd)) {
        return __real_ioctl(fd, request, argument);
    }
    fuzz::board_state& b = fuzz::current;
    auto* word = static_cast<int32_t*>(argument);
    b.request_number = request;
    b.request_word = *word; // read before the request is judged: a bad address is a finding
    return static_cast<int>(fuzz::as_call(
        hornio_model_request(&b.model, &b.faults, static_cast<unsigned int>(request), word),
        b.faults.request));
}

int __wrap_fstat(int fd, struct stat* info) {
    return fuzz::node_status(fd, info, __real_fstat);
}

// The tool is built with the large-file interfaces, whose fstat is fstat64.
int __wrap_fstat64(int fd, struct stat64* info) {
    return fuzz::node_status(fd, info, __real_fstat64);
}

int __wrap_close(int fd) {
    if (fuzz::is_node(fd)) {
        ++fuzz::current.closes;
        return 0;
    }
    return __real_close(fd);
}

} // extern "C"
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
