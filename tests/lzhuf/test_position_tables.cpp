#include <gtest/gtest.h>

#include "lzhuf/position_tables.h"

// The rule, written out independently of the table builder: the first eight
// bits pick a prefix length L by range, and each value owns 2^(8 - L) entries.
TEST(PositionTables, EveryEntryFollowsThePrefixLengthRule) {
    const int range_end[] = {0x20, 0x50, 0x90, 0xC0, 0xF0, 0x100};
    const int range_start[] = {0x00, 0x20, 0x50, 0x90, 0xC0, 0xF0};
    const int first_value[] = {0, 1, 4, 12, 24, 48};
    for (int b = 0; b < 256; ++b) {
        int row = 0;
        while (b >= range_end[row]) ++row;
        const int length = row + 3;
        EXPECT_EQ(position_length_table[b], length) << "b=" << b;
        EXPECT_EQ(position_high_table[b], first_value[row] + (b - range_start[row]) / (1 << (8 - length))) << "b=" << b;
    }
    EXPECT_EQ(position_high_table[0xFF], 63);
}
