// Everything the tool exchanges with the buzzer driver through "/dev/hornio".
// Each operation opens the node, uses it once and closes it; a failure is
// reported where it is met and ends the run with status 1.
#pragma once

#include <cstdint>
#include <sys/ioctl.h>

// Both requests carry the address of a 32-bit word. The numbers come from the
// platform's own encoding so that they match the driver on every architecture.
constexpr unsigned long hornio_set_request = _IOW('k', 1, int);
constexpr unsigned long hornio_get_request = _IOR('k', 2, int);

#if defined(__x86_64__) || defined(__i386__) || defined(__arm__) || defined(__aarch64__) ||        \
    defined(__riscv)
static_assert(hornio_set_request == 0x40046B01UL, "set request number of the generic encoding");
static_assert(hornio_get_request == 0x80046B02UL, "get request number of the generic encoding");
#endif

// Largest command text and status reply, terminator included.
constexpr int buzzer_text_size = 2000;

// Prints the trace line, then writes the command text (without terminator).
void buzzer_write(const char* command);

// Reads the driver's status reply and shows it on standard output; ends the run.
[[noreturn]] void buzzer_read();

// Issues the set or get request with the word's address.
void buzzer_request(unsigned long request, int32_t* word);
