#include "real.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <string_view>
#include <unistd.h>

namespace hornemu::real {
namespace {

// The entry points of the C library: their names, and their addresses once looked up.
struct symbol {
    std::string_view name;
    void* address = nullptr;
};
symbol symbols[] = {{"open"},    {"open64"}, {"fopen"},   {"fopen64"},        {"fclose"},
                    {"read"},    {"write"},  {"ioctl"},   {"close"},          {"fcntl"},
                    {"fcntl64"}, {"fstat"},  {"fstat64"}, {"__ioctl_time64"}, {"__fcntl_time64"}};

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
Fn function(std::string_view name, bool optional = false) {
    void*& found =
        std::find_if(std::begin(symbols), std::end(symbols), [name](const symbol& entry) {
            return entry.name == name;
        })->address;
    if (found == nullptr) {
        found = dlsym(RTLD_NEXT, name.data());
    }
    if (found == nullptr && !optional) {
        missing(name.data());
    }
    Fn address = nullptr;
    std::memcpy(&address, &found, sizeof address);
    return address;
}

using open_fn = int (*)(const char*, int, ...);
using fcntl_fn = int (*)(int, int, ...);

} // namespace

void resolve_all() {
    const int saved = errno;
    for (symbol& entry : symbols) {
        entry.address = dlsym(RTLD_NEXT, entry.name.data());
    }
    errno = saved;
}

int open(const char* path, int flags, mode_t mode) {
    return function<open_fn>("open")(path, flags, mode);
}

int open64(const char* path, int flags, mode_t mode) {
    return function<open_fn>("open64")(path, flags, mode);
}

FILE* fopen(const char* path, const char* mode) {
    return function<FILE* (*)(const char*, const char*)>("fopen")(path, mode);
}

FILE* fopen64(const char* path, const char* mode) {
    return function<FILE* (*)(const char*, const char*)>("fopen64")(path, mode);
}

int fclose(FILE* stream) {
    return function<int (*)(FILE*)>("fclose")(stream);
}

ssize_t read(int fd, void* buffer, size_t count) {
    return function<ssize_t (*)(int, void*, size_t)>("read")(fd, buffer, count);
}

ssize_t write(int fd, const void* bytes, size_t count) {
    return function<ssize_t (*)(int, const void*, size_t)>("write")(fd, bytes, count);
}

int ioctl(int fd, ioctl_request request, void* argument) {
    return function<int (*)(int, ioctl_request, ...)>("ioctl")(fd, request, argument);
}

// Only 32-bit C libraries with 64-bit time have this entry; elsewhere plain ioctl stands in.
int ioctl_time64(int fd, unsigned long request, void* argument) {
    const auto time64 = function<int (*)(int, unsigned long, ...)>("__ioctl_time64", true);
    return time64 != nullptr ? time64(fd, request, argument)
                             : ioctl(fd, as_ioctl_request(request), argument);
}

int close(int fd) {
    return function<int (*)(int)>("close")(fd);
}

int fcntl(int fd, int command, void* argument) {
    return function<fcntl_fn>("fcntl")(fd, command, argument);
}

// fcntl64 (glibc 2.28 on) and __fcntl_time64 (32-bit, 64-bit time) stand in for fcntl where
// the C library has them.
int fcntl64(int fd, int command, void* argument) {
    const auto wide = function<fcntl_fn>("fcntl64", true);
    return wide != nullptr ? wide(fd, command, argument) : fcntl(fd, command, argument);
}

int fcntl_time64(int fd, int command, void* argument) {
    const auto time64 = function<fcntl_fn>("__fcntl_time64", true);
    return time64 != nullptr ? time64(fd, command, argument) : fcntl64(fd, command, argument);
}

int fstat(int fd, struct stat* info) {
    return function<int (*)(int, struct stat*)>("fstat")(fd, info);
}

#ifdef __GLIBC__
int fstat64(int fd, struct stat64* info) {
    return function<int (*)(int, struct stat64*)>("fstat64")(fd, info);
}

#endif

} // namespace hornemu::real
