// The CRC-16 that senders put in front of every compressed stream:
// polynomial 0x1021, initial value 0, no reflection, no final XOR, computed
// over everything after the two CRC bytes.  Table-driven, so checking a
// stream costs the decoder next to nothing.
#pragma once

#include <cstdint>

// entry[k][i]: the CRC, from 0, of the byte i followed by k zero bytes;
// entry[0] is the usual one-byte table.  With all eight, a run of eight bytes
// costs eight independent lookups instead of a chain of eight.
struct Crc16Table {
    uint16_t entry[8][256];
};

inline constexpr Crc16Table make_crc16_table() {
    Crc16Table t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t crc = i << 8;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000u) ? ((crc << 1) ^ 0x1021u) : (crc << 1);
        t.entry[0][i] = static_cast<uint16_t>(crc);
    }
    for (int k = 1; k < 8; ++k) {
        for (uint32_t i = 0; i < 256; ++i) {
            const uint32_t previous = t.entry[k - 1][i];
            t.entry[k][i] = static_cast<uint16_t>((previous << 8) ^ t.entry[0][previous >> 8]);
        }
    }
    return t;
}

inline constexpr Crc16Table CRC16_TABLE = make_crc16_table();

inline uint16_t crc16_update(uint16_t crc, uint8_t byte) {
    return static_cast<uint16_t>((crc << 8) ^ CRC16_TABLE.entry[0][((crc >> 8) ^ byte) & 0xFFu]);
}

// The same as crc16_update on each of `count` bytes in turn.
inline uint16_t crc16_update(uint16_t crc, const uint8_t* bytes, int32_t count) {
    const auto& t = CRC16_TABLE.entry;
    for (; count >= 8; bytes += 8, count -= 8) {
        crc = static_cast<uint16_t>(t[7][bytes[0] ^ (crc >> 8)] ^ t[6][bytes[1] ^ (crc & 0xFFu)] ^ t[5][bytes[2]] ^
                                    t[4][bytes[3]] ^ t[3][bytes[4]] ^ t[2][bytes[5]] ^ t[1][bytes[6]] ^ t[0][bytes[7]]);
    }
    for (; count > 0; ++bytes, --count) crc = crc16_update(crc, *bytes);
    return crc;
}
