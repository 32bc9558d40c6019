#include "number.h"

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

bool to_int32(const char* text, int32_t* value) {
    while (is_blank(*text)) {
        ++text;
    }
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+') {
        ++text;
    }
    // Accumulate the magnitude, stopping as soon as it leaves the range of
    // the sign's side (2^31 - 1 above zero, 2^31 below).
    const int64_t limit = negative ? INT64_C(2147483648) : INT64_C(2147483647);
    int64_t magnitude = 0;
    bool in_range = true;
    for (; is_digit(*text); ++text) {
        magnitude = magnitude * 10 + (*text - '0');
        if (magnitude > limit) {
            in_range = false;
            magnitude = limit;
            break;
        }
    }
    *value = static_cast<int32_t>(negative ? -magnitude : magnitude);
    return in_range;
}
