// The decoding steps of LzhufDecoder, in its two engines.  Internal to the
// decoder (lzhuf_decoder.cpp is their only caller).
//
//   decode_byte(d, byte, out, limit)   one bit-stream byte, one call of the
//                                      byte-fed rule, never producing past
//                                      `limit` (a match is cut there);
//                                      returns the count
//   drain(d, out, limit)               finish: the pending bits, no byte,
//                                      up to `limit` likewise
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

#include <bit>
#include <cstdint>
#include <cstring>

#include "lzhuf/lzhuf_decoder.h"

int64_t decode_byte(LzhufDecoder& d, uint8_t byte, const TextSink& out, int64_t limit);
int64_t drain(LzhufDecoder& d, const TextSink& out, int64_t limit);
int64_t decode_run(LzhufDecoder& d, const uint8_t* bytes, int32_t count, const TextSink& out, int64_t limit,
                   int32_t& used);

// The most characters one call can produce: before it merges its byte a
// call takes at most 8 pending bits (at most 8 literals: no whole match fits
// in 8 bits), after it at most one more step (a match of 60).  A run engine
// given a limit this far below the stream's length stops after a call that
// stays below the length, where the byte engine, which alone cuts at the
// length, takes over.
inline constexpr int64_t LIMIT_MARGIN = 8 + 60;

// Characters wait in the text ring, where they are stored anyway, and leave
// for the sink a piece at a time: one call per piece instead of one per
// character.
inline void write_out(const uint8_t* text, uint32_t length, const TextSink& out) { sink_text(out, text, length); }

// One decoded character into the text ring at `write_pos`.  The text since
// `unwritten` leaves when the ring wraps, so a piece never straddles its end.
inline void put_in_ring(uint8_t* ring, uint32_t& write_pos, uint32_t& unwritten, int64_t& produced, uint8_t c,
                        const TextSink& out) {
    ring[write_pos] = c;
    write_pos = (write_pos + 1) & RING_MASK;
    ++produced;
    if (write_pos == 0) {
        write_out(ring + unwritten, RING_SIZE - unwritten, out);
        unwritten = 0;
    }
}

// A match: `length` characters from ring position `from` on, each read
// after the one before it has been stored, so a copy that starts close
// behind write_pos repeats its own output.
//
// Most matches are a few characters long, and a loop over them ends at a
// different count each time, which the branch predictor cannot follow.  So
// where neither end comes near the ring's end, and the source starts at
// least eight places behind (or anywhere ahead, where nothing read is
// written first), the copy goes eight bytes at a time; the last piece keeps
// the ring bytes past the match as they were.
inline void copy_in_ring(uint8_t* ring, uint32_t& write_pos, uint32_t& unwritten, int64_t& produced, uint32_t from,
                         uint32_t length, const TextSink& out) {
    const uint32_t pieces_end = (length + 7) & ~7u;
    if constexpr (std::endian::native == std::endian::little) {
        if (length > 0 && write_pos + pieces_end < RING_SIZE && from + pieces_end <= RING_SIZE &&
            ((write_pos - from) & RING_MASK) >= 8) {
            uint8_t* const to = ring + write_pos;
            const uint8_t* const source = ring + from;
            uint32_t k = 0;
            for (; k + 8 < length; k += 8) std::memcpy(to + k, source + k, 8);
            uint64_t piece = 0;
            uint64_t kept = 0;
            std::memcpy(&piece, source + k, 8);
            std::memcpy(&kept, to + k, 8);
            const uint64_t mask = ~uint64_t{0} >> (64 - 8 * (length - k));  // the piece's first length - k bytes
            piece = (piece & mask) | (kept & ~mask);
            std::memcpy(to + k, &piece, 8);
            write_pos += length;
            produced += length;
            return;
        }
    }
    if (write_pos + length < RING_SIZE && from + length <= RING_SIZE) {
        uint8_t* const to = ring + write_pos;
        const uint8_t* const source = ring + from;
        for (uint32_t k = 0; k < length; ++k) to[k] = source[k];
        write_pos += length;
        produced += length;
    } else {
        for (uint32_t k = 0; k < length; ++k) {
            put_in_ring(ring, write_pos, unwritten, produced, ring[(from + k) & RING_MASK], out);
        }
    }
}
