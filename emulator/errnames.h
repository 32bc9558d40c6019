// Symbolic errno names, shared by the interposer (board.conf, log) and the runner (options,
// account).
#pragma once

#include <cstddef>

namespace hornemu {

// The symbolic name of an errno value ("EIO"), or nullptr when the table lacks it.
const char* errno_name(int value);

// An errno given by name ("EIO") or as a decimal number from 1 to 4095; 0 when the text is neither.
int errno_parse(const char* text, size_t length);

} // namespace hornemu
