// The emulated buzzer driver behind "/dev/hornio": the driver model, its memory kept in the
// scenario's state file across runs, and the faults and reply board.conf and the scenario give.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/stat.h>

namespace hornemu {

// What an operation returns: value, or -1 with errno set to error when error is not 0.
struct outcome {
    long value;
    int error;
};

outcome driver_write(const void* bytes, size_t count);

// The scenario's reply file, when there is one, else the driver's status.
outcome driver_read(void* buffer, size_t count);

// Whether the request is the set or the get request, whose argument is a word.
bool request_has_word(unsigned long request);

// A request with the word its argument points to (null: none); filled tells whether the
// driver wrote the word.
outcome driver_request(unsigned long request, uint32_t* word, bool& filled);

// Whether fd is a descriptor the emulated driver opened (kept by interpose.cpp).
bool is_driver_node(int fd);

// fstat's result for fd, in any of the C library's stat structures: the emulated driver's node
// is a character device, whatever file stands behind it.
template <typename Stat>
int as_device(int fd, int result, Stat* info) {
    if (result == 0 && info != nullptr && is_driver_node(fd)) {
        info->st_mode = static_cast<decltype(info->st_mode)>(S_IFCHR | 0660);
        // makedev(10, 61), written out: st_rdev is narrower than dev_t on some
        // architectures (mips), and a small constant fits them all.
        constexpr unsigned int misc_device = (10U << 8) | 61U;
        info->st_rdev = misc_device;
        info->st_size = 0;
    }
    return result;
}

} // namespace hornemu
