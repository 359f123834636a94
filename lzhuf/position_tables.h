// Decoding tables for the upper six bits of a match position.
//
// Indexed by the first eight bits b of a position code:
//   position_high_table[b]   v, the upper six bits of the position (0..63)
//   position_length_table[b] L, the length in bits (3..8) of the prefix that
//                            codes v; L - 2 further bits follow the eight.
// Near positions get short prefixes: recent text is copied most often.
#pragma once

#include <cstdint>

struct PositionCodeRow {
    uint8_t first_b;        // first table index of the row
    uint8_t first_v;        // v at first_b
    uint8_t v_count;        // how many v values the row codes
    uint8_t prefix_length;  // L for every entry of the row
};

// The rule the tables are built from: each v occupies 2^(8 - L) entries.
inline constexpr PositionCodeRow POSITION_CODE_ROWS[] = {
    {0x00, 0, 1, 3},  {0x20, 1, 3, 4},   {0x50, 4, 8, 5},
    {0x90, 12, 12, 6}, {0xC0, 24, 24, 7}, {0xF0, 48, 16, 8},
};

struct PositionTables {
    uint8_t high[256];
    uint8_t length[256];
};

inline constexpr PositionTables make_position_tables() {
    PositionTables t{};
    for (const PositionCodeRow& row : POSITION_CODE_ROWS) {
        const int per_v = 1 << (8 - row.prefix_length);
        for (int i = 0; i < row.v_count * per_v; ++i) {
            t.high[row.first_b + i] = static_cast<uint8_t>(row.first_v + i / per_v);
            t.length[row.first_b + i] = row.prefix_length;
        }
    }
    return t;
}

inline constexpr PositionTables POSITION_TABLES = make_position_tables();
inline constexpr const uint8_t (&position_high_table)[256] = POSITION_TABLES.high;
inline constexpr const uint8_t (&position_length_table)[256] = POSITION_TABLES.length;
