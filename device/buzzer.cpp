#include "buzzer.h"

#include "run.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <type_traits>
#include <unistd.h>

namespace {

// The C libraries declare ioctl's request differently: unsigned long in glibc,
// int in musl. The request is handed over in whichever type this one takes.
template <typename Result, typename Request>
Request ioctl_request_type(Result (*)(int, Request, ...));
using ioctl_request = decltype(ioctl_request_type(&ioctl));

template <typename Request = ioctl_request>
constexpr Request as_ioctl_request(unsigned long request) {
    if constexpr (std::is_same_v<Request, unsigned long>) {
        return request;
    } else {
        return static_cast<Request>(request);
    }
}

// Reports a failed system call on the node (perror's "<prefix>: <reason>" on
// standard error, the tool's own line on standard output) and ends the run.
// What standard output holds so far goes out first, so that where both
// streams share one file or pipe the lines stay in the order produced; a
// reader of standard output that has gone must not end the run there.
// The node is left for the process exit to close.
[[noreturn]] void fail(const char* prefix, const char* message) {
    run_fails();
    const int error = errno;
    std::fflush(stdout);
    errno = error;
    std::perror(prefix);
    std::fputs(message, stdout);
    end_run(1);
}

// Opens the node read-write on a descriptor above the standard streams, and
// only if it is a character device. A standard stream that was closed when
// the tool started would otherwise become the node, and what the tool prints
// there would reach the driver; the standard descriptor is closed again, so
// printing to it still fails. A regular file or a FIFO in the node's place
// (left by a write while no driver was loaded) is no driver at all.
int open_node() {
    int fd = open(HORNIO_NODE_PATH, O_RDWR);
    if (fd < 0) {
        fail("open", "driver open error.\n");
    }
    if (fd <= STDERR_FILENO) {
        const int moved = fcntl(fd, F_DUPFD, STDERR_FILENO + 1);
        // F_DUPFD answers EINVAL when the limit of descriptors lies at or below
        // the lowest number it may use: no descriptor above the standard ones
        // is left, which is what EMFILE says.
        const int error = moved < 0 && errno == EINVAL ? EMFILE : errno;
        close(fd);
        if (moved < 0) {
            errno = error;
            fail("open", "driver open error.\n");
        }
        fd = moved;
    }
    struct stat node {};
    if (fstat(fd, &node) != 0) {
        fail("open", "driver open error.\n");
    }
    if (!S_ISCHR(node.st_mode)) {
        errno = ENODEV;
        fail("open", "driver open error.\n");
    }
    return fd;
}

} // namespace

void buzzer_write(const char* command) {
    note_output(std::printf("cmd for hornio=\"%s\"\n", command) < 0);
    const int fd = open_node();
    // errno is cleared so that a write that transfers nothing without an
    // error is reported as such, not with a stale reason.
    errno = 0;
    if (write(fd, command, std::strlen(command)) <= 0) {
        fail("hornset:", "driver write error.\n");
    }
    close(fd);
}

void buzzer_read() {
    const int fd = open_node();
    char reply[HORNIO_TEXT_SIZE];
    errno = 0;
    const ssize_t length = read(fd, reply, sizeof reply);
    // A driver that reports more than it was asked for breaks the read
    // contract: what it claims lies beyond the buffer.
    if (length <= 0 || static_cast<size_t>(length) > sizeof reply) {
        fail("hornset:", "driver read error.\n");
    }
    close(fd);
    // The reply is text: shown up to its first NUL, byte for byte.
    const void* nul = std::memchr(reply, '\0', static_cast<size_t>(length));
    const size_t shown = nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - reply)
                                        : static_cast<size_t>(length);
    note_output(std::fwrite(reply, 1, shown, stdout) != shown);
    end_run(0);
}

void buzzer_request(unsigned long request, int32_t* word) {
    const int fd = open_node();
    errno = 0;
    if (ioctl(fd, as_ioctl_request(request), word) != 0) {
        fail("hornset:", "driver ioctl error.\n");
    }
    close(fd);
}
