// PayloadRing: every payload byte the MonitorParser extracts, on its way to
// the MessageFramer.
//
// Interface:
//   ring_append(ring, byte)    store at write_index, advance it mod 100000
//   ring_byte_back(ring, k)    byte at (read_index - k) mod 100000; the byte
//                              just handed to the framer is k = 1
//
// The writer never looks at read_index: if the reader falls more than a
// ring's worth behind, the oldest unread bytes are overwritten.  The framer
// matches its patterns by looking back from read_index, so the ring doubles
// as the framer's history and no copy of the stream is kept elsewhere.
#pragma once

#include <cstdint>

inline constexpr int32_t PAYLOAD_RING_SIZE = 100000;

struct PayloadRing {
    uint8_t bytes[PAYLOAD_RING_SIZE];
    int32_t write_index;  // next byte goes here
    int32_t read_index;   // next byte to hand to the framer
};

// Both are called once per payload byte, so they live here to be inlined.
inline void ring_append(PayloadRing& ring, uint8_t byte) {
    ring.bytes[ring.write_index] = byte;
    const int32_t next = ring.write_index + 1;
    ring.write_index = next == PAYLOAD_RING_SIZE ? 0 : next;
}

inline uint8_t ring_byte_back(const PayloadRing& ring, int32_t k) {
    // The framer only looks 1..25 back; the remainder form keeps any k safe.
    int32_t index = ring.read_index - k % PAYLOAD_RING_SIZE;
    if (index < 0) index += PAYLOAD_RING_SIZE;
    if (index >= PAYLOAD_RING_SIZE) index -= PAYLOAD_RING_SIZE;
    return ring.bytes[index];
}
