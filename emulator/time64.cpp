// fstat as 32-bit glibc programs built with 64-bit time call it, __fstat64_time64: its struct
// is the one struct stat is with these settings, so it lives in a file of its own.
#define _FILE_OFFSET_BITS 64 // NOLINT(cppcoreguidelines-macro-usage)
#define _TIME_BITS 64        // NOLINT(cppcoreguidelines-macro-usage)

#include "board.h"

#include <sys/stat.h>

extern "C" __attribute__((visibility("default"))) int __fstat64_time64(int fd, struct stat* info);

int __fstat64_time64(int fd, struct stat* info) {
    const auto real = hornemu::libc<int (*)(int, struct stat*)>("__fstat64_time64");
    return hornemu::as_device(fd, real(fd, info), info);
}
