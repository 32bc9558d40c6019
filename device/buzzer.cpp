#include "buzzer.h"

#include "end_run.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
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

constexpr const char* node_path = "/dev/hornio";

// Reports a failed system call on the node (perror's "<prefix>: <reason>" on
// standard error, the tool's own line on standard output) and ends the run.
// The node is left for the process exit to close.
[[noreturn]] void fail(const char* prefix, const char* message) {
    std::perror(prefix);
    std::fputs(message, stdout);
    end_run(1);
}

int open_node() {
    const int fd = open(node_path, O_RDWR);
    if (fd < 0) {
        fail("open", "driver open error.\n");
    }
    return fd;
}

} // namespace

void buzzer_write(const char* command) {
    std::printf("cmd for hornio=\"%s\"\n", command);
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
    char reply[buzzer_text_size];
    errno = 0;
    const ssize_t length = read(fd, reply, sizeof reply);
    if (length <= 0) {
        fail("hornset:", "driver read error.\n");
    }
    close(fd);
    // The reply is text: shown up to its first NUL, byte for byte.
    const void* nul = std::memchr(reply, '\0', static_cast<size_t>(length));
    const size_t shown = nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - reply)
                                        : static_cast<size_t>(length);
    std::fwrite(reply, 1, shown, stdout);
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
