// libc's own entry points, found past the interposer with dlsym(RTLD_NEXT, ...).
// The emulator reads and writes its scenario files only through these, so that it never
// runs into its own interposed functions.
#pragma once

#include <cstdint>
#include <cstdio>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <type_traits>

// musl's headers make the 64-bit names macros for the plain ones; here they are the symbols.
#undef open64
#undef fopen64

namespace hornemu {

// The type of ioctl's request: unsigned long in glibc, int in musl.
template <typename Result, typename Request>
Request ioctl_request_of(Result (*)(int, Request, ...));
using ioctl_request = decltype(ioctl_request_of(&::ioctl));

// The request number, of which the kernel reads the low 32 bits whatever the declared type.
inline unsigned long request_number(ioctl_request request) {
    return static_cast<uint32_t>(request);
}

// A request number as this C library's ioctl takes it.
template <typename Request = ioctl_request>
Request as_ioctl_request(unsigned long number) {
    if constexpr (std::is_same_v<Request, unsigned long>) {
        return number;
    } else {
        return static_cast<Request>(number);
    }
}

namespace real {

// Looks every entry point up at once, when the library is loaded, so that a call made later
// (from a signal handler, say) never has to ask the dynamic loader. One the C library lacks is
// reported, ending the process with status 125, when it is first called.
void resolve_all();

int open(const char* path, int flags, mode_t mode);
int open64(const char* path, int flags, mode_t mode);
FILE* fopen(const char* path, const char* mode);
FILE* fopen64(const char* path, const char* mode);
int fclose(FILE* stream);
ssize_t read(int fd, void* buffer, size_t count);
ssize_t write(int fd, const void* bytes, size_t count);
int ioctl(int fd, ioctl_request request, void* argument);
int ioctl_time64(int fd, unsigned long request, void* argument);
int close(int fd);
int fcntl(int fd, int command, void* argument);
int fcntl64(int fd, int command, void* argument);
int fcntl_time64(int fd, int command, void* argument);
int fstat(int fd, struct stat* info);
#ifdef __GLIBC__
int fstat64(int fd, struct stat64* info);
#endif

} // namespace real
} // namespace hornemu
