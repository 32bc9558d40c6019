// fstat as 32-bit glibc programs built with 64-bit time call it, __fstat64_time64: its struct
// is the one struct stat is with these settings, so it lives in a file of its own.
#define _FILE_OFFSET_BITS 64 // NOLINT(cppcoreguidelines-macro-usage)
#define _TIME_BITS 64        // NOLINT(cppcoreguidelines-macro-usage)

#include <cstring>
#include <sys/stat.h>

namespace hornemu {
void* libc_address(const char* name); // interpose.cpp
bool is_driver_node(int fd);
} // namespace hornemu

extern "C" __attribute__((visibility("default"))) int __fstat64_time64(int fd, struct stat* info);

int __fstat64_time64(int fd, struct stat* info) {
    int (*real)(int, struct stat*) = nullptr;
    void* address = hornemu::libc_address("__fstat64_time64");
    std::memcpy(&real, &address, sizeof real);
    const int result = real(fd, info);
    if (result == 0 && info != nullptr && hornemu::is_driver_node(fd)) {
        info->st_mode = S_IFCHR | 0660; // as interpose.cpp's fstat_entry
        info->st_rdev = (10U << 8U) | 61U;
        info->st_size = 0;
    }
    return result;
}
