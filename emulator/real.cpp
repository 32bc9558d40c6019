#include "real.h"

#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <unistd.h>

namespace hornemu::real {
namespace {

// One entry point of the C library: its name, and its address once looked up.
struct symbol {
    const char* name;
    bool optional; // some C libraries lack it, and the caller here has a fallback
    void* address;
};

symbol open_symbol{"open", false, nullptr};
symbol open64_symbol{"open64", false, nullptr};
symbol openat_symbol{"openat", false, nullptr};
symbol openat64_symbol{"openat64", false, nullptr};
symbol open_2_symbol{"__open_2", false, nullptr};
symbol open64_2_symbol{"__open64_2", false, nullptr};
symbol openat_2_symbol{"__openat_2", false, nullptr};
symbol openat64_2_symbol{"__openat64_2", false, nullptr};
symbol fopen_symbol{"fopen", false, nullptr};
symbol fopen64_symbol{"fopen64", false, nullptr};
symbol fclose_symbol{"fclose", false, nullptr};
symbol read_symbol{"read", false, nullptr};
symbol read_chk_symbol{"__read_chk", false, nullptr};
symbol write_symbol{"write", false, nullptr};
symbol ioctl_symbol{"ioctl", false, nullptr};
symbol ioctl_time64_symbol{"__ioctl_time64", true, nullptr};
symbol close_symbol{"close", false, nullptr};
symbol fcntl_symbol{"fcntl", false, nullptr};
symbol fcntl64_symbol{"fcntl64", true, nullptr};
symbol fcntl_time64_symbol{"__fcntl_time64", true, nullptr};
symbol dup_symbol{"dup", false, nullptr};
symbol dup2_symbol{"dup2", false, nullptr};
symbol dup3_symbol{"dup3", false, nullptr};
symbol fstat_symbol{"fstat", false, nullptr};
#ifdef __GLIBC__
symbol fstat64_symbol{"fstat64", false, nullptr};
symbol fxstat_symbol{"__fxstat", false, nullptr};
symbol fxstat64_symbol{"__fxstat64", false, nullptr};
#endif

symbol* const symbols[] = {
    &open_symbol,     &open64_symbol,   &openat_symbol,   &openat64_symbol,
    &open_2_symbol,   &open64_2_symbol, &openat_2_symbol, &openat64_2_symbol,
    &fopen_symbol,    &fopen64_symbol,  &fclose_symbol,   &read_symbol,
    &read_chk_symbol, &write_symbol,    &ioctl_symbol,    &ioctl_time64_symbol,
    &close_symbol,    &fcntl_symbol,    &fcntl64_symbol,  &fcntl_time64_symbol,
    &dup_symbol,      &dup2_symbol,     &dup3_symbol,     &fstat_symbol,
#ifdef __GLIBC__
    &fstat64_symbol,  &fxstat_symbol,   &fxstat64_symbol,
#endif
};

[[noreturn]] void missing(const char* name) {
    constexpr char before[] = "hornemu: the C library has no ";
    // Nothing more can be said when standard error cannot take it.
    (void)!::write(STDERR_FILENO, before, sizeof before - 1);
    (void)!::write(STDERR_FILENO, name, std::strlen(name));
    (void)!::write(STDERR_FILENO, "\n", 1);
    _exit(125);
}

// The entry point as a function of type Fn; nullptr for an optional one the C library lacks.
template <typename Fn>
Fn function(symbol& entry) {
    if (entry.address == nullptr) {
        entry.address = dlsym(RTLD_NEXT, entry.name);
    }
    if (entry.address == nullptr && !entry.optional) {
        missing(entry.name);
    }
    Fn address = nullptr;
    std::memcpy(&address, &entry.address, sizeof address);
    return address;
}

using open_fn = int (*)(const char*, int, ...);
using openat_fn = int (*)(int, const char*, int, ...);
using open_2_fn = int (*)(const char*, int);
using openat_2_fn = int (*)(int, const char*, int);
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

int openat(int dirfd, const char* path, int flags, mode_t mode) {
    return function<openat_fn>(openat_symbol)(dirfd, path, flags, mode);
}

int openat64(int dirfd, const char* path, int flags, mode_t mode) {
    return function<openat_fn>(openat64_symbol)(dirfd, path, flags, mode);
}

int open_2(const char* path, int flags) {
    return function<open_2_fn>(open_2_symbol)(path, flags);
}

int open64_2(const char* path, int flags) {
    return function<open_2_fn>(open64_2_symbol)(path, flags);
}

int openat_2(int dirfd, const char* path, int flags) {
    return function<openat_2_fn>(openat_2_symbol)(dirfd, path, flags);
}

int openat64_2(int dirfd, const char* path, int flags) {
    return function<openat_2_fn>(openat64_2_symbol)(dirfd, path, flags);
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

ssize_t read_chk(int fd, void* buffer, size_t count, size_t buffer_size) {
    return function<ssize_t (*)(int, void*, size_t, size_t)>(read_chk_symbol)(fd, buffer, count,
                                                                              buffer_size);
}

ssize_t write(int fd, const void* bytes, size_t count) {
    return function<ssize_t (*)(int, const void*, size_t)>(write_symbol)(fd, bytes, count);
}

int ioctl(int fd, ioctl_request request, void* argument) {
    return function<int (*)(int, ioctl_request, ...)>(ioctl_symbol)(fd, request, argument);
}

// Only 32-bit C libraries with 64-bit time have this entry; elsewhere plain ioctl stands in.
int ioctl_time64(int fd, unsigned long request, void* argument) {
    const auto time64 = function<int (*)(int, unsigned long, ...)>(ioctl_time64_symbol);
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
    const auto wide = function<fcntl_fn>(fcntl64_symbol);
    return wide != nullptr ? wide(fd, command, argument) : fcntl(fd, command, argument);
}

int fcntl_time64(int fd, int command, void* argument) {
    const auto time64 = function<fcntl_fn>(fcntl_time64_symbol);
    return time64 != nullptr ? time64(fd, command, argument) : fcntl64(fd, command, argument);
}

int dup(int fd) {
    return function<int (*)(int)>(dup_symbol)(fd);
}

int dup2(int fd, int target) {
    return function<int (*)(int, int)>(dup2_symbol)(fd, target);
}

int dup3(int fd, int target, int flags) {
    return function<int (*)(int, int, int)>(dup3_symbol)(fd, target, flags);
}

int fstat(int fd, struct stat* info) {
    return function<int (*)(int, struct stat*)>(fstat_symbol)(fd, info);
}

#ifdef __GLIBC__
int fstat64(int fd, struct stat64* info) {
    return function<int (*)(int, struct stat64*)>(fstat64_symbol)(fd, info);
}

int fxstat(int version, int fd, struct stat* info) {
    return function<int (*)(int, int, struct stat*)>(fxstat_symbol)(version, fd, info);
}

int fxstat64(int version, int fd, struct stat64* info) {
    return function<int (*)(int, int, struct stat64*)>(fxstat64_symbol)(version, fd, info);
}
#endif

} // namespace hornemu::real
