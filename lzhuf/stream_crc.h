// The CRC-16 that senders put in front of every compressed stream:
// polynomial 0x1021, initial value 0, no reflection, no final XOR, computed
// over everything after the two CRC bytes.  Table-driven, one lookup per
// byte, so checking a stream costs the decoder next to nothing.
#pragma once

#include <cstdint>

struct Crc16Table {
    uint16_t entry[256];
};

inline constexpr Crc16Table make_crc16_table() {
    Crc16Table t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t crc = i << 8;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000u) ? ((crc << 1) ^ 0x1021u) : (crc << 1);
        t.entry[i] = static_cast<uint16_t>(crc);
    }
    return t;
}

inline constexpr Crc16Table CRC16_TABLE = make_crc16_table();

inline uint16_t crc16_update(uint16_t crc, uint8_t byte) {
    return static_cast<uint16_t>((crc << 8) ^ CRC16_TABLE.entry[((crc >> 8) ^ byte) & 0xFFu]);
}
