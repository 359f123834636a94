// A piece of a larger buffer, copied into a heap block of exactly its size.
// Tests and fuzz targets hand the machines such a copy instead of a pointer
// into the buffer: a read even one byte past the piece then lands outside
// any block, where AddressSanitizer reports it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

inline std::vector<uint8_t> own_block(const void* from, size_t count) {
    const auto* bytes = static_cast<const uint8_t*>(from);
    return std::vector<uint8_t>(bytes, bytes + count);
}
