// A whole-buffer decoder of the compressed message format, for comparison
// only: it has the whole message at once, so it keeps no state between
// calls and reads bits from a wide window.  It shares no code with
// LzhufDecoder, so the benchmark measures what being resumable costs, not a
// copy of the same code.
//
//   plain_decode(message, size, out, capacity)
//       decodes a whole message (2 CRC bytes, 4 length bytes little-endian,
//       then the bit stream) into `out`; returns the characters written,
//       the stored length or `capacity`, whichever is smaller.
#pragma once

#include <cstddef>
#include <cstdint>

size_t plain_decode(const uint8_t* message, size_t size, uint8_t* out, size_t capacity);
