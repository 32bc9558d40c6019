#include "real.h"

#include <dlfcn.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hornemu {
namespace real {
namespace {

using open_fn = int (*)(const char*, int, ...);
using openat_fn = int (*)(int, const char*, int, ...);
using open_2_fn = int (*)(const char*, int);
using openat_2_fn = int (*)(int, const char*, int);
using fopen_fn = FILE* (*)(const char*, const char*);
using fclose_fn = int (*)(FILE*);
using read_fn = ssize_t (*)(int, void*, size_t);
using read_chk_fn = ssize_t (*)(int, void*, size_t, size_t);
using write_fn = ssize_t (*)(int, const void*, size_t);
using ioctl_fn = int (*)(int, ioctl_request, ...);
using ioctl_time64_fn = int (*)(int, unsigned long, ...);
using close_fn = int (*)(int);
using fcntl_fn = int (*)(int, int, ...);
using dup_fn = int (*)(int);
using dup2_fn = int (*)(int, int);
using dup3_fn = int (*)(int, int, int);
using fstat_fn = int (*)(int, struct stat*);
#ifdef __GLIBC__
using fstat64_fn = int (*)(int, struct stat64*);
using fxstat_fn = int (*)(int, int, struct stat*);
using fxstat64_fn = int (*)(int, int, struct stat64*);
#endif

[[noreturn]] void missing(const char* name) {
    char message[128];
    const int length =
        snprintf(message, sizeof message, "hornemu: the C library has no %s\n", name);
    if (length > 0 && ::write(2, message, static_cast<size_t>(length)) < 0) {
        // Nothing more can be said.
    }
    _exit(125);
}

// Looks the symbol up once; a libc without it is reported and ends the process, except where
// the caller has a fallback (optional).
template <typename Fn>
Fn lookup(Fn& slot, const char* name, bool optional = false) {
    if (slot == nullptr) {
        void* symbol = dlsym(RTLD_NEXT, name);
        if (symbol == nullptr && !optional) {
            missing(name);
        }
        memcpy(&slot, &symbol, sizeof slot);
    }
    return slot;
}

open_fn open_slot;
open_fn open64_slot;
openat_fn openat_slot;
openat_fn openat64_slot;
open_2_fn open_2_slot;
open_2_fn open64_2_slot;
openat_2_fn openat_2_slot;
openat_2_fn openat64_2_slot;
fopen_fn fopen_slot;
fopen_fn fopen64_slot;
fclose_fn fclose_slot;
read_fn read_slot;
read_chk_fn read_chk_slot;
write_fn write_slot;
ioctl_fn ioctl_slot;
ioctl_time64_fn ioctl_time64_slot;
close_fn close_slot;
fcntl_fn fcntl_slot;
fcntl_fn fcntl64_slot;
fcntl_fn fcntl_time64_slot;
dup_fn dup_slot;
dup2_fn dup2_slot;
dup3_fn dup3_slot;
fstat_fn fstat_slot;
#ifdef __GLIBC__
fstat64_fn fstat64_slot;
fxstat_fn fxstat_slot;
fxstat64_fn fxstat64_slot;
#endif

} // namespace

int open(const char* path, int flags, mode_t mode) {
    return lookup(open_slot, "open")(path, flags, mode);
}

int open64(const char* path, int flags, mode_t mode) {
    return lookup(open64_slot, "open64")(path, flags, mode);
}

int openat(int dirfd, const char* path, int flags, mode_t mode) {
    return lookup(openat_slot, "openat")(dirfd, path, flags, mode);
}

int openat64(int dirfd, const char* path, int flags, mode_t mode) {
    return lookup(openat64_slot, "openat64")(dirfd, path, flags, mode);
}

int open_2(const char* path, int flags) {
    return lookup(open_2_slot, "__open_2")(path, flags);
}

int open64_2(const char* path, int flags) {
    return lookup(open64_2_slot, "__open64_2")(path, flags);
}

int openat_2(int dirfd, const char* path, int flags) {
    return lookup(openat_2_slot, "__openat_2")(dirfd, path, flags);
}

int openat64_2(int dirfd, const char* path, int flags) {
    return lookup(openat64_2_slot, "__openat64_2")(dirfd, path, flags);
}

FILE* fopen(const char* path, const char* mode) {
    return lookup(fopen_slot, "fopen")(path, mode);
}

FILE* fopen64(const char* path, const char* mode) {
    return lookup(fopen64_slot, "fopen64")(path, mode);
}

int fclose(FILE* stream) {
    return lookup(fclose_slot, "fclose")(stream);
}

ssize_t read(int fd, void* buf, size_t count) {
    return lookup(read_slot, "read")(fd, buf, count);
}

ssize_t read_chk(int fd, void* buf, size_t count, size_t buflen) {
    return lookup(read_chk_slot, "__read_chk")(fd, buf, count, buflen);
}

ssize_t write(int fd, const void* buf, size_t count) {
    return lookup(write_slot, "write")(fd, buf, count);
}

int ioctl(int fd, ioctl_request request, void* arg) {
    return lookup(ioctl_slot, "ioctl")(fd, request, arg);
}

// Only 32-bit C libraries with 64-bit time have this entry; elsewhere plain ioctl stands in.
int ioctl_time64(int fd, unsigned long request, void* arg) {
    if (lookup(ioctl_time64_slot, "__ioctl_time64", true) == nullptr) {
        return ioctl(fd, as_ioctl_request(request), arg);
    }
    return ioctl_time64_slot(fd, request, arg);
}

int close(int fd) {
    return lookup(close_slot, "close")(fd);
}

int fcntl(int fd, int command, void* argument) {
    return lookup(fcntl_slot, "fcntl")(fd, command, argument);
}

// fcntl64 (glibc 2.28 on) and __fcntl_time64 (32-bit, 64-bit time) stand in for fcntl where
// the C library has them.
int fcntl64(int fd, int command, void* argument) {
    if (lookup(fcntl64_slot, "fcntl64", true) == nullptr) {
        return fcntl(fd, command, argument);
    }
    return fcntl64_slot(fd, command, argument);
}

int fcntl_time64(int fd, int command, void* argument) {
    if (lookup(fcntl_time64_slot, "__fcntl_time64", true) == nullptr) {
        return fcntl64(fd, command, argument);
    }
    return fcntl_time64_slot(fd, command, argument);
}

int dup(int fd) {
    return lookup(dup_slot, "dup")(fd);
}

int dup2(int fd, int target) {
    return lookup(dup2_slot, "dup2")(fd, target);
}

int dup3(int fd, int target, int flags) {
    return lookup(dup3_slot, "dup3")(fd, target, flags);
}

int fstat(int fd, struct stat* info) {
    return lookup(fstat_slot, "fstat")(fd, info);
}

#ifdef __GLIBC__
int fstat64(int fd, struct stat64* info) {
    return lookup(fstat64_slot, "fstat64")(fd, info);
}

int fxstat(int version, int fd, struct stat* info) {
    return lookup(fxstat_slot, "__fxstat")(version, fd, info);
}

int fxstat64(int version, int fd, struct stat64* info) {
    return lookup(fxstat64_slot, "__fxstat64")(version, fd, info);
}
#endif

} // namespace real
} // namespace hornemu
