#include <gtest/gtest.h>

#include "lzhuf/position_tables.h"

namespace {

// The rule, written out independently of the table builder: prefix length L
// by range of the first eight bits, and 2^(8 - L) entries per value.
int expected_length(int b) {
    if (b < 0x20) return 3;
    if (b < 0x50) return 4;
    if (b < 0x90) return 5;
    if (b < 0xC0) return 6;
    if (b < 0xF0) return 7;
    return 8;
}

TEST(PositionTables, FollowTheRule) {
    const int first_b[] = {0x00, 0x20, 0x50, 0x90, 0xC0, 0xF0};
    const int first_v[] = {0, 1, 4, 12, 24, 48};
    for (int b = 0; b < 256; ++b) {
        const int length = expected_length(b);
        const int row = length - 3;
        const int v = first_v[row] + (b - first_b[row]) / (1 << (8 - length));
        EXPECT_EQ(position_length_table[b], length) << "b=" << b;
        EXPECT_EQ(position_high_table[b], v) << "b=" << b;
    }
    EXPECT_EQ(position_high_table[0xFF], 63);
}

TEST(PositionTables, FormACompletePrefixCode) {
    // Each of the 64 values owns one run of 2^(8 - L) entries whose first
    // index is a multiple of the run size: the prefixes are a complete,
    // prefix-free code, so every 8-bit pattern decodes.
    int seen[64] = {};
    for (int b = 0; b < 256; ++b) {
        const int run = 1 << (8 - position_length_table[b]);
        const int v = position_high_table[b];
        if (b % run == 0) {
            ++seen[v];
            for (int i = 1; i < run; ++i) ASSERT_EQ(position_high_table[b + i], v);
        }
    }
    for (int v = 0; v < 64; ++v) EXPECT_EQ(seen[v], 1) << "v=" << v;
}

}  // namespace
