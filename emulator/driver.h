// The emulated buzzer driver behind "/dev/hornio": its command grammar, its memory (kept in
// the scenario's state file across runs), its status reply, its requests and the faults
// board.conf injects into them.
#pragma once

#include "command_limit.h"

#include <cstddef>
#include <cstdint>

namespace hornemu {

// What an operation returns: value, or -1 with errno set to error when error is not 0.
struct outcome {
    long value;
    int error;
};

// The longest command text the driver takes (command_limit.h).
constexpr size_t command_max = hornio_command_max;

// One to three items in the order "period N", "count N", "pattern TEXT", separated by single
// spaces; N is an optional '-' and 1 to 10 digits; TEXT is any non-empty bytes.
bool command_is_valid(const char* text, size_t length);

// A command write: remembers a valid command and returns count; EINVAL for any other text.
outcome driver_write(const void* bytes, size_t count);

// A status read: the reply file's bytes, else "status: " + the last command + "\n", else
// "status: idle\n"; at most count bytes from the start.
outcome driver_read(void* buffer, size_t count);

enum class request_kind { set, get, other };

request_kind classify_request(unsigned long request);

// The set request remembers *word, the get request fills it with the remembered word (0 when
// none); other requests fail with ENOTTY. filled tells whether *word was written.
outcome driver_request(request_kind kind, uint32_t* word, bool& filled);

} // namespace hornemu
