#include "real.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <unistd.h>

namespace hornemu::real {
namespace {

// One entry point of the C library: its name, and its address once looked up.
struct symbol {
    const char* name;
    void* address;
};

symbol open_symbol{"open", nullptr};
symbol open64_symbol{"open64", nullptr};
symbol fopen_symbol{"fopen", nullptr};
symbol fopen64_symbol{"fopen64", nullptr};
symbol fclose_symbol{"fclose", nullptr};
symbol read_symbol{"read", nullptr};
symbol write_symbol{"write", nullptr};
symbol ioctl_symbol{"ioctl", nullptr};
symbol ioctl_time64_symbol{"__ioctl_time64", nullptr};
symbol close_symbol{"close", nullptr};
symbol fcntl_symbol{"fcntl", nullptr};
symbol fcntl64_symbol{"fcntl64", nullptr};
symbol fcntl_time64_symbol{"__fcntl_time64", nullptr};
symbol fstat_symbol{"fstat", nullptr};
#ifdef __GLIBC__
symbol fstat64_symbol{"fstat64", nullptr};
#endif

symbol* const symbols[] = {
    &open_symbol,    &open64_symbol,  &fopen_symbol,        &fopen64_symbol,      &fclose_symbol,
    &read_symbol,    &write_symbol,   &ioctl_symbol,        &ioctl_time64_symbol, &close_symbol,
    &fcntl_symbol,   &fcntl64_symbol, &fcntl_time64_symbol, &fstat_symbol,
#ifdef __GLIBC__
    &fstat64_symbol,
#endif
};

[[noreturn]] void missing(const char* name) {
    char message[128] = "hornemu: the C library has no ";
    const size_t length = std::strlen(message);
    const size_t name_length = std::min(std::strlen(name), sizeof message - length - 1);
    *std::copy_n(name, name_length, message + length) = '\n';
    // Nothing more can be said when standard error cannot take it.
    [[maybe_unused]] const ssize_t shown =
        ::write(STDERR_FILENO, message, length + name_length + 1);
    _exit(125);
}

// The entry point as a function of type Fn; nullptr for an optional one (some C libraries lack
// it, and the caller has a fallback) when the C library lacks it.
template <typename Fn>
Fn function(symbol& entry, bool optional = false) {
    if (entry.address == nullptr) {
        entry.address = dlsym(RTLD_NEXT, entry.name);
    }
    if (entry.address == nullptr && !optional) {
        missing(entry.name);
    }
    Fn address = nullptr;
    std::memcpy(&address, &entry.address, sizeof address);
    return address;
}

using open_fn = int (*)(const char*, int, ...);
using fcntl_fn = int (*)(int, int, ...);

} // namespace

void resolve_all() {
    const int saved = errno;
    for (symbol* entry : symbols) {
        entry->address = dlsym(RTLD_NEXT, entry->name);
    }
    errno = saved;
}

int open(const char* path, int flags, mode_t mode) {
    return function<open_fn>(open_symbol)(path, flags, mode);
}

int open64(const char* path, int flags, mode_t mode) {
    return function<open_fn>(open64_symbol)(path, flags, mode);
}

FILE* fopen(const char* path, const char* mode) {
    return function<FILE* (*)(const char*, const char*)>(fopen_symbol)(path, mode);
}

FILE* fopen64(const char* path, const char* mode) {
    return function<FILE* (*)(const char*, const char*)>(fopen64_symbol)(path, mode);
}

int fclose(FILE* stream) {
    return function<int (*)(FILE*)>(fclose_symbol)(stream);
}

ssize_t read(int fd, void* buffer, size_t count) {
    return function<ssize_t (*)(int, void*, size_t)>(read_symbol)(fd, buffer, count);
}

ssize_t write(int fd, const void* bytes, size_t count) {
    return function<ssize_t (*)(int, const void*, size_t)>(write_symbol)(fd, bytes, count);
}

int ioctl(int fd, ioctl_request request, void* argument) {
    return function<int (*)(int, ioctl_request, ...)>(ioctl_symbol)(fd, request, argument);
}

// Only 32-bit C libraries with 64-bit time have this entry; elsewhere plain ioctl stands in.
int ioctl_time64(int fd, unsigned long request, void* argument) {
    const auto time64 = function<int (*)(int, unsigned long, ...)>(ioctl_time64_symbol, true);
    return time64 != nullptr ? time64(fd, request, argument)
                             : ioctl(fd, as_ioctl_request(request), argument);
}

int close(int fd) {
    return function<int (*)(int)>(close_symbol)(fd);
}

int fcntl(int fd, int command, void* argument) {
    return function<fcntl_fn>(fcntl_symbol)(fd, command, argument);
}

// fcntl64 (glibc 2.28 on) and __fcntl_time64 (32-bit, 64-bit time) stand in for fcntl where
// the C library has them.
int fcntl64(int fd, int command, void* argument) {
    const auto wide = function<fcntl_fn>(fcntl64_symbol, true);
    return wide != nullptr ? wide(fd, command, argument) : fcntl(fd, command, argument);
}

int fcntl_time64(int fd, int command, void* argument) {
    const auto time64 = function<fcntl_fn>(fcntl_time64_symbol, true);
    return time64 != nullptr ? time64(fd, command, argument) : fcntl64(fd, command, argument);
}

int fstat(int fd, struct stat* info) {
    return function<int (*)(int, struct stat*)>(fstat_symbol)(fd, info);
}

#ifdef __GLIBC__
int fstat64(int fd, struct stat64* info) {
    return function<int (*)(int, struct stat64*)>(fstat64_symbol)(fd, info);
}

#endif

} // namespace hornemu::real
