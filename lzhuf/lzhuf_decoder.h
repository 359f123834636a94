// LzhufDecoder: decompresses one message while its bytes arrive, one byte per
// call, and can stop and resume at any bit.
//
// Interface:
//   feed_byte(d, byte, out)  run as far as this byte allows; every decoded
//                            character goes to the sink `out`.
//                            Returns the characters produced since the last
//                            restart, which never exceed the stream's own
//                            length: a match that crosses it is cut there.
//   feed_bytes(d, bytes, n, out, used)
//                            feed_byte on each byte, stopping after the
//                            byte that completes the stream
//   stream_complete(d)       all six header bytes are in and the count has
//                            reached the stream's own length
//   restart(d)               the next byte begins a new compressed stream
//   finish(d, out, limit)    the stream has ended: decode what the pending bits
//                            still hold, up to `limit` characters in all.
//                            Restart before feeding again.
//   stream_check(d)          what the stream's header says against what
//                            arrived: intact when all six header bytes came,
//                            the CRC over what was fed matches the sent one
//                            and the count is the stream's own length
//
// Stream: 6 header bytes (CRC-16 of the rest, low byte first, then the
// uncompressed length, 4 bytes little-endian), then adaptive-Huffman symbols
// read MSB first.  The header is not needed to decode; it is kept so the
// caller knows where the message ends and whether it came through whole.
// Symbols 0..255 are literals; 256..313 are matches of symbol - 253
// characters followed by a position code (8 bits through the position tables,
// then L - 2 more bits).
//
// States, and how a call moves between them:
//
//   Init --> SkipHeader --(6th byte)--> SymbolStart --> SymbolWalk
//                                          ^   ^          |    |
//                                literal   |   +----------+    | match symbol
//                                          |                   v
//                                       PositionLow <---- PositionHigh
//                                  (position tail + copy)  (first 8 bits)
//
// A call merges its byte into the 16-bit window once, when bits are needed
// and 8 or fewer are pending, and returns at the next stopping point (a
// literal written, a match symbol decoded, the first eight position bits
// taken, a match copied) or as soon as it needs bits again with 8 or fewer
// pending.  So bits are taken only while 9 or more are pending; `finish`
// drains what that rule holds back.
//
// Two engines share the work of feed_bytes, and the steps (a symbol, a
// position head, a match), which are written once for both:
//   the byte engine (byte_steps.cpp) follows the rule above bit by bit, and
//     alone knows where a call stops: at the end of the bytes, at the
//     stream's length (where a match is cut), at a call left mid-step;
//   the run engine (run_steps.cpp) takes over at a symbol's start, decodes
//     whole steps from a 64-bit window while the bytes are far from their
//     end and the count far from the length, works out from the bit
//     position which call is then in progress, and hands it back to the
//     byte engine for the rest of the bytes.
// Both give every count, state and character that one call per byte gives.
#pragma once

#include <cstdint>

#include "lzhuf/huffman_model.h"
#include "lzhuf/text_sink.h"

inline constexpr uint32_t RING_SIZE = 4096;
inline constexpr uint32_t RING_MASK = RING_SIZE - 1;
inline constexpr uint32_t RING_PREFILL = RING_SIZE - 60;  // 4036: spaces before it
inline constexpr int32_t HEADER_BYTES = 6;                // skipped at the stream start
inline constexpr int32_t MATCH_LENGTH_BIAS = 253;         // match length = symbol - 253
enum LzhufState : uint32_t {
    Init = 0,          // first byte of a stream: initialise, count it as header byte 1
    SkipHeader = 1,    // header bytes 2..6, consumed unread
    SymbolStart = 2,   // begin a symbol at the root
    SymbolWalk = 3,    // walking the tree one bit at a time
    PositionHigh = 4,  // first eight bits of a match position
    PositionLow = 5,   // remaining position bits, then the copy
};

struct LzhufDecoder {
    LzhufState state;
    int32_t header_count;   // header bytes consumed, 1..6
    uint32_t bit_buffer;    // pending bits, next one at bit 15
    uint8_t bit_count;      // pending bits, 0..16
    int32_t symbol;         // child link during the walk, then the symbol
    uint32_t position_high; // upper six position bits, shifted left by 6
    uint32_t position_low;  // position code bits; low six are the position's
    int32_t extra_bits;     // position bits still to read
    uint32_t write_pos;     // ring position of the next output character
    int64_t output_count;   // characters produced since initialisation, never past stream_length
    uint16_t stream_crc;    // header bytes 1-2: the sender's CRC of the rest
    uint32_t stream_length; // header bytes 3-6: the uncompressed length
    uint16_t running_crc;   // CRC over every byte fed from the third on
    uint8_t text_ring[RING_SIZE];
    HuffmanModel model;
};

int64_t feed_byte(LzhufDecoder& d, uint8_t byte, const TextSink& out);
// feed_byte on each of `count` bytes in turn, stopping early after the byte
// that makes stream_complete true.  `used` receives how many bytes were fed;
// returns the count after the last of them (output_count if none).  The
// same calls as one by one, without paying for each call.
int64_t feed_bytes(LzhufDecoder& d, const uint8_t* bytes, int32_t count, const TextSink& out, int32_t& used);
void restart(LzhufDecoder& d);
int64_t finish(LzhufDecoder& d, const TextSink& out, int64_t limit);
// The count at which a message of this stream is complete: its own length.
int64_t stream_length_limit(const LzhufDecoder& d);
bool stream_complete(const LzhufDecoder& d);

struct StreamCheck {
    bool intact;
    int64_t count;      // characters decoded
    uint32_t length;    // the length the stream announced
    uint16_t computed;  // CRC over what was fed
    uint16_t sent;      // CRC the stream carried
};
// All zero (and not intact) when no byte has been fed since the restart.
StreamCheck stream_check(const LzhufDecoder& d);

