// fstat as 32-bit glibc programs built with 64-bit time call it, __fstat64_time64: its struct
// is the one struct stat is with these settings, so it lives in a file of its own.
#define _FILE_OFFSET_BITS 64 // NOLINT(cppcoreguidelines-macro-usage)
#define _TIME_BITS 64        // NOLINT(cppcoreguidelines-macro-usage)

#include "driver.h"

#include <dlfcn.h>
#include <sys/stat.h>

#define HORNEMU_EXPORT extern "C" __attribute__((visibility("default")))

HORNEMU_EXPORT int __fstat64_time64(int fd, struct stat* info);

HORNEMU_EXPORT int __fstat64_time64(int fd, struct stat* info) {
    using fstat_fn = int (*)(int, struct stat*);
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): dlsym's answer is a function
    static const auto real = reinterpret_cast<fstat_fn>(dlsym(RTLD_NEXT, "__fstat64_time64"));
    return hornemu::as_device(fd, real(fd, info), info);
}
