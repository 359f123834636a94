// The decoding steps of LzhufDecoder, in its two engines.  Internal to the
// decoder (lzhuf_decoder.cpp is their only caller).
//
//   decode_byte(d, byte, out, limit)   one bit-stream byte, one call of the
//                                      byte-fed rule; returns the count
//   drain(d, out, limit)               finish: the pending bits, no byte
//   decode_run(d, bytes, count, out, limit, used)
//                                      2 or more bit-stream bytes, each as if
//                                      in a call of its own, stopping after
//                                      the call whose count reaches `limit`
//
// decode_byte and drain step bit by bit; decode_run decodes whole steps from
// a wide window and works out the calls from bit positions.  They must agree
// on every count, state and character (the decoder-runs fuzz target and the
// round-trip tests compare them).
#pragma once

#include <cstdint>
#include <cstdio>

#include "lzhuf/lzhuf_decoder.h"

int32_t decode_byte(LzhufDecoder& d, uint8_t byte, std::FILE* out, int32_t limit);
int32_t drain(LzhufDecoder& d, std::FILE* out, int32_t limit);
int32_t decode_run(LzhufDecoder& d, const uint8_t* bytes, int32_t count, std::FILE* out, int32_t limit,
                   int32_t& used);

// Characters wait in the text ring, where they are stored anyway, and leave
// for the console and then the payload stream a piece at a time: a stream
// call per piece instead of two per character.  Short pieces, as a single
// byte gives, go character by character, which is cheaper there.
void write_out(const uint8_t* text, uint32_t length, std::FILE* out);

// One decoded character into the text ring at `write_pos`.  The text since
// `unwritten` leaves when the ring wraps, so a piece never straddles its end.
inline void put_in_ring(uint8_t* ring, uint32_t& write_pos, uint32_t& unwritten, int32_t& produced, uint8_t c,
                        std::FILE* out) {
    ring[write_pos] = c;
    write_pos = (write_pos + 1) & RING_MASK;
    ++produced;
    if (write_pos == 0) {
        write_out(ring + unwritten, RING_SIZE - unwritten, out);
        unwritten = 0;
    }
}
