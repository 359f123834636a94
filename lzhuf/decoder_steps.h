// The decoding steps of LzhufDecoder and its two engines.  Internal to the
// decoder (lzhuf_decoder.cpp is the engines' only caller).
//
//   decode_bytes(d, bytes, count, out, limit, until)
//        the byte engine: each byte as in a feed_byte call of its own, bit by
//        bit.  Stops after the call that brings the count to `limit` (a match
//        is cut there), after the last byte, or, with ToSymbolStart, after the
//        first call that ends at a symbol's start.  Returns the calls made.
//   drain(d, out, limit)
//        finish: the pending bits, no byte, up to `limit` likewise
//   decode_run(d, bytes, count, out, limit)
//        the run engine: whole steps from a wide window, from a symbol's start
//        and only while the bytes are far from their end and the count far
//        from `limit`.  Returns the calls it made in full.
//
// The steps themselves (a symbol, the head of a position code, a match) are
// the inline functions below, which both engines call; the engines differ
// only in how they fetch bits and where they stop.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "lzhuf/lzhuf_decoder.h"
#include "lzhuf/position_tables.h"

enum CallsUntil : uint32_t {
    AllBytes,       // the run of bytes, or the call that reaches the limit
    ToSymbolStart,  // ... or the first call that ends at a symbol's start
};

int32_t decode_bytes(LzhufDecoder& d, const uint8_t* bytes, int32_t count, const TextSink& out, int64_t limit,
                     CallsUntil until);
int64_t drain(LzhufDecoder& d, const TextSink& out, int64_t limit);
int32_t decode_run(LzhufDecoder& d, const uint8_t* bytes, int32_t count, const TextSink& out, int64_t limit);

// The most bits one step can need: a walk of under 24 (weights below 0x8000
// keep the tree shallower than that), then the eight bits of a position head
// and at most six more.
inline constexpr uint32_t STEP_BITS = 23 + 8 + 6;
// The run engine begins a step only while its bits, and two bytes more, lie
// inside the run: a call merges its byte when 8 or fewer bits are pending,
// one byte ahead of the bits it takes, and the call in progress after the
// step must still have its byte in the run, to be left to the byte engine.
inline constexpr uint32_t RUN_MARGIN = STEP_BITS + 16;
// Shorter runs are not worth calling the run engine for: it could not begin
// a single step.
inline constexpr int32_t RUN_SHORTEST = static_cast<int32_t>(RUN_MARGIN + 7) / 8;

// Where decoded characters go.  They wait in the decoder's text ring, where
// they are stored anyway, and leave for the sink a piece at a time: one call
// per piece instead of one per character.  The ring itself is reached
// through the decoder, which an engine holds in a register anyway.
struct TextCursor {
    uint32_t write_pos;  // ring position of the next character
    uint32_t unwritten;  // ring text from here to write_pos has not left yet
    int64_t produced;    // the decoder's count
};

inline TextCursor text_cursor(const LzhufDecoder& d) { return TextCursor{d.write_pos, d.write_pos, d.output_count}; }

// The engine returns: what is left of the text goes to the sink.
inline void close_text(LzhufDecoder& d, const TextCursor& t, const TextSink& out) {
    d.write_pos = t.write_pos;
    d.output_count = t.produced;
    sink_text(out, d.text_ring + t.unwritten, t.write_pos - t.unwritten);
}

// One decoded character into the ring.  The text since `unwritten` leaves
// when the ring wraps, so a piece never straddles its end.
inline void put_in_ring(LzhufDecoder& d, TextCursor& t, uint8_t c, const TextSink& out) {
    d.text_ring[t.write_pos] = c;
    t.write_pos = (t.write_pos + 1) & RING_MASK;
    ++t.produced;
    if (t.write_pos == 0) {
        sink_text(out, d.text_ring + t.unwritten, RING_SIZE - t.unwritten);
        t.unwritten = 0;
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
inline void copy_in_ring(LzhufDecoder& d, TextCursor& t, uint32_t from, uint32_t length, const TextSink& out) {
    uint8_t* const ring = d.text_ring;
    const uint32_t pieces_end = (length + 7) & ~7u;
    if constexpr (std::endian::native == std::endian::little) {
        if (length > 0 && t.write_pos + pieces_end < RING_SIZE && from + pieces_end <= RING_SIZE &&
            ((t.write_pos - from) & RING_MASK) >= 8) {
            uint8_t* const to = ring + t.write_pos;
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
            t.write_pos += length;
            t.produced += length;
            return;
        }
    }
    if (t.write_pos + length < RING_SIZE && from + length <= RING_SIZE) {
        uint8_t* const to = ring + t.write_pos;
        const uint8_t* const source = ring + from;
        for (uint32_t k = 0; k < length; ++k) to[k] = source[k];
        t.write_pos += length;
        t.produced += length;
    } else {
        for (uint32_t k = 0; k < length; ++k) put_in_ring(d, t, ring[(from + k) & RING_MASK], out);
    }
}

// Step: the walk has reached `leaf`.  The model counts its symbol, a literal
// goes to the ring; returns the symbol (256 and up: a match length).
inline int32_t symbol_step(LzhufDecoder& d, TextCursor& t, int32_t leaf, const TextSink& out) {
    const int32_t symbol = leaf - NODE_COUNT;
    model_update(d.model, symbol);
    if (symbol < 256) put_in_ring(d, t, static_cast<uint8_t>(symbol), out);
    return symbol;
}

// The position of a match as far as it has been read: the upper six bits
// come from the code's first eight bits through the tables, which also say
// how many more bits follow; `low` collects the code's bits, whose last six
// are the position's lower six.
struct MatchPosition {
    uint32_t high;       // upper six bits, shifted left by 6
    uint32_t low;        // the code's bits so far
    int32_t extra_bits;  // bits still to read, 1..6 after the head
};

// Step: the first eight bits `b` of a position code.
inline MatchPosition position_head(uint32_t b) {
    return MatchPosition{static_cast<uint32_t>(position_high_table[b]) << 6, b, position_length_table[b] - 2};
}

// Step: the position complete, the match of `symbol` is copied, cut where
// the count would pass `limit`.
inline void match_step(LzhufDecoder& d, TextCursor& t, int32_t symbol, const MatchPosition& p, int64_t limit,
                       const TextSink& out) {
    const uint32_t distance = (p.low & 0x3Fu) | p.high;
    uint32_t length = static_cast<uint32_t>(symbol - MATCH_LENGTH_BIAS);
    if (limit - t.produced < static_cast<int64_t>(length)) length = static_cast<uint32_t>(limit - t.produced);
    copy_in_ring(d, t, (t.write_pos - distance - 1) & RING_MASK, length, out);
}
