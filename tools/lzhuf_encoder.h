// Test-support encoder: the exact inverse of LzhufDecoder.
//
// Interface:
//   lzhuf_compress(data, size, steps)   a whole compressed message as senders
//       write it: CRC-16 (2 bytes, low first) over the rest, the uncompressed
//       length (4 bytes, little-endian), then the bit stream padded with zero
//       bits.  `steps`, if given, receives where each step ends.
//   LzhufEncoder + encoder_start / encode_literal / encode_match /
//   encoder_bytes: a stream built step by step, for tests that need a match
//   at a chosen position (the pre-filled ring, overlapping copies, ...).
//   crc16_ccitt(data, size)             polynomial 0x1021, initial value 0.
//
// The encoder keeps the same adaptive model as the decoder and codes matches
// of 3..60 characters against a 4096-byte ring that is pre-filled with spaces
// and written from position 4036.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "lzhuf/huffman_model.h"

// Where a step of the stream ends: the bit offset (counted from the first bit
// after the six header bytes) just past the step's last bit, and the number
// of characters produced once the step is done.
struct EncodedStep {
    uint64_t end_bit;
    uint64_t chars_after;
};

struct LzhufEncoder {
    HuffmanModel model;
    std::vector<uint8_t> bytes;  // the bit stream so far, whole bytes
    uint32_t pending;            // bits not yet forming a whole byte, at the bottom
    int32_t pending_count;       // 0..7
    uint64_t bit_count;          // bits written to the stream
    uint64_t char_count;         // characters the steps so far produce
};

void encoder_start(LzhufEncoder& e);
void encode_literal(LzhufEncoder& e, uint8_t c);
// length 3..60, position 0..4095: the copy starts position + 1 characters
// behind the write position.
void encode_match(LzhufEncoder& e, int32_t length, uint32_t position);
// The bit stream padded to whole bytes (no header).
std::vector<uint8_t> encoder_bytes(const LzhufEncoder& e);
// Wraps a bit stream in the 6-byte message header.
std::vector<uint8_t> wrap_message(const std::vector<uint8_t>& bit_stream, uint32_t length);

std::vector<uint8_t> lzhuf_compress(const uint8_t* data, size_t size,
                                    std::vector<EncodedStep>* steps = nullptr);

uint16_t crc16_ccitt(const uint8_t* data, size_t size);
