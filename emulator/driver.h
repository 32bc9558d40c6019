// The emulated buzzer driver behind "/dev/hornio": the driver model, its memory kept in the
// scenario's state file across runs, and the faults and reply board.conf and the scenario give.
#pragma once

#include <cstddef>
#include <cstdint>

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

} // namespace hornemu
