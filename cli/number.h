// The one conversion of numeric arguments, shared by both dialects.
#pragma once

#include <cstdint>

// Converts text with atoi's grammar: leading white space, an optional sign,
// then decimal digits up to the first other character; text without leading
// digits gives 0. Unlike atoi it never wraps: when the digits lie outside the
// signed 32-bit range it returns false and *value is INT32_MAX or INT32_MIN.
bool to_int32(const char* text, int32_t* value);
