// The one numeric conversion: atoi's grammar without its wrap-around.
#include "number.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

struct conversion {
    const char* text;
    int32_t value;
    bool in_range;
};

TEST(ToInt32, KeepsAtoiGrammarAndRefusesToWrap) {
    const conversion cases[] = {
        {"0", 0, true},
        {"42", 42, true},
        {"", 0, true},
        {"abc", 0, true},
        {"-", 0, true},
        {"+", 0, true},
        {"12abc", 12, true},
        {" \t\n\v\f\r7", 7, true},
        {"+7", 7, true},
        {"-7", -7, true},
        {"--7", 0, true},
        {"- 7", 0, true},
        {"7 8", 7, true},
        {"0x1F", 0, true},
        {"0000000000000000000000042", 42, true},
        {"2147483647", INT32_MAX, true},
        {"-2147483648", INT32_MIN, true},
        {"2147483648", INT32_MAX, false},
        {"-2147483649", INT32_MIN, false},
        {"4294967297", INT32_MAX, false},
        {"-4294967297", INT32_MIN, false},
        {"99999999999999999999999999", INT32_MAX, false},
        {"2147483648abc", INT32_MAX, false},
    };
    for (const conversion& c : cases) {
        int32_t value = 12345;
        EXPECT_EQ(to_int32(c.text, &value), c.in_range) << '"' << c.text << '"';
        EXPECT_EQ(value, c.value) << '"' << c.text << '"';
    }
}

} // namespace
