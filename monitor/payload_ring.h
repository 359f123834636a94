// PayloadRing: every payload byte the MonitorParser extracts, on its way to
// the MessageFramer.
//
// Interface:
//   ring_advance(index, n)     index + n, back to 0 at the end of the storage
//   ring_wrap(index)           an index up to one ring's length out of range,
//                              brought back into it
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

// These run once per payload byte or per run of bytes, so they live here to
// be inlined, each a comparison and a conditional move.

// `n` is at most the room left before the end of the storage: every caller
// moves within one stretch of it, so reaching the end is the only wrap.
inline int32_t ring_advance(int32_t index, int32_t n) {
    const int32_t next = index + n;
    return next == PAYLOAD_RING_SIZE ? 0 : next;
}

// `index` lies within one ring's length of the storage on either side.
inline int32_t ring_wrap(int32_t index) {
    if (index < 0) index += PAYLOAD_RING_SIZE;
    if (index >= PAYLOAD_RING_SIZE) index -= PAYLOAD_RING_SIZE;
    return index;
}

inline void ring_append(PayloadRing& ring, uint8_t byte) {
    ring.bytes[ring.write_index] = byte;
    ring.write_index = ring_advance(ring.write_index, 1);
}

// A negative k looks ahead of the read index, as the framer does to test a
// run of bytes before handing it over; |k| stays below the ring's length.
inline uint8_t ring_byte_back(const PayloadRing& ring, int32_t k) {
    return ring.bytes[ring_wrap(ring.read_index - k)];
}
