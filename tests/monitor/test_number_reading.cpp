#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "monitor/number_reading.h"

namespace {

int32_t decimal(const char* text) { return read_decimal(text, static_cast<int32_t>(std::strlen(text))); }

}  // namespace

// Numbers are read as atoi reads them, to a NUL, keeping the low 32 bits of
// longer ones; hexadecimal pairs as scanf's %x reads them.
TEST(NumberReading, DecimalsAsAtoiAndHexPairsAsScanfReadThem) {
    for (const char* text : {"", "7", "  42x", "\t\n\v\f\r9", "-17", "+17", "- 5", "+-3", "--1", "0009", "12 34", "x12", " ",
                             "-", "2147483647", "-2147483648", "1e5", "99999\r\n", "123456789012345678", "-123456789012345678"})
        EXPECT_EQ(decimal(text), static_cast<int32_t>(std::strtoll(text, nullptr, 10))) << '"' << text << '"';
    EXPECT_EQ(read_decimal("12\0" "34", 5), 12);
    for (int first = 0; first < 256; ++first) {
        for (int second = 0; second < 256; ++second) {
            const char text[3] = {static_cast<char>(first), static_cast<char>(second), 0};
            unsigned int expected = 0;
            std::sscanf(text, "%x", &expected);
            ASSERT_EQ(hex_pair_value(static_cast<uint8_t>(first), static_cast<uint8_t>(second)),
                      static_cast<uint8_t>(expected))
                << first << ' ' << second;
        }
    }
}
