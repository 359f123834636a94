#include "lzhuf/lzhuf_decoder.h"

#include <climits>
#include <cstring>

#include "lzhuf/position_tables.h"
#include "lzhuf/stream_crc.h"
#include "platform/char_output.h"

namespace {

// One decoded character: console first, then the payload stream, then the
// ring that later matches copy from.
inline void emit(LzhufDecoder& d, uint8_t c, std::FILE* out) {
    put_char(c, stdout);
    put_char(c, out);
    d.text_ring[d.write_pos] = c;
    d.write_pos = (d.write_pos + 1) & RING_MASK;
    ++d.output_count;
}

void initialise(LzhufDecoder& d, uint8_t first_byte) {
    model_start(d.model);
    d.stream_crc = first_byte;
    d.stream_length = 0;
    d.running_crc = 0;
    d.bit_buffer = 0;
    d.bit_count = 0;
    d.output_count = 0;
    // Positions RING_PREFILL..4095 keep what the previous message left there:
    // a sender's encoder that reaches back into them expects exactly that.
    std::memset(d.text_ring, ' ', RING_PREFILL);
    d.write_pos = RING_PREFILL;
    d.header_count = 1;
    d.state = SkipHeader;
}

// The decoding steps, shared by the byte-fed path and the final drain.
//
// Feeding (Finishing = false): bits come from the pending window plus this
// call's one byte, merged when 8 or fewer are pending, and are taken only
// while 9 or more are pending; the call returns at the first stopping point
// after the merge.
// Finishing (Finishing = true): no new byte; a single bit needs one pending
// bit, the eight position bits need eight, and decoding stops once `limit`
// characters have been produced.
template <bool Finishing>
int32_t run_steps(LzhufDecoder& d, uint8_t byte, std::FILE* out, int32_t limit) {
    // The bit window lives in locals for the call: character output goes
    // through stdio, and the compiler cannot tell that it leaves the decoder's
    // fields alone, so fields would be reloaded after every character.
    uint32_t buffer = d.bit_buffer;
    uint32_t count = d.bit_count;
    bool taken = false;
    auto save = [&]() {
        d.bit_buffer = buffer;
        d.bit_count = static_cast<uint8_t>(count);
        d.byte_taken = taken;
        return d.output_count;
    };
    // Makes `n` bits available if the current rule allows taking them now.
    auto bits_ready = [&](uint32_t n) -> bool {
        if constexpr (Finishing) {
            return count >= n;
        } else {
            (void)n;
            while (count <= 8) {
                if (taken) return false;
                buffer |= static_cast<uint32_t>(byte) << (8 - count);
                count += 8;
                taken = true;
            }
            return true;
        }
    };
    auto take_bit = [&]() -> uint32_t {
        const uint32_t bit = (buffer >> 15) & 1u;
        buffer <<= 1;
        --count;
        return bit;
    };

    for (;;) {
        if constexpr (Finishing) {
            if (d.output_count >= limit) return save();
        }
        switch (d.state) {
        case SymbolStart:
            d.symbol = d.model.child[ROOT_NODE];
            d.walk_path[0] = ROOT_NODE;
            d.walk_length = 1;
            d.state = SymbolWalk;
            [[fallthrough]];
        case SymbolWalk: {
            int32_t link = d.symbol;
            int32_t length = d.walk_length;
            while (link < NODE_COUNT) {
                if (!bits_ready(1)) {
                    d.symbol = link;  // resume the walk here next time
                    d.walk_length = length;
                    return save();
                }
                // Take every bit the rule allows now without asking again.
                uint32_t allowed = Finishing ? count : count - 8;
                do {
                    const int32_t node = link + static_cast<int32_t>(take_bit());
                    d.walk_path[length++] = node;
                    link = d.model.child[node];
                } while (--allowed > 0 && link < NODE_COUNT);
            }
            const int32_t symbol = link - NODE_COUNT;
            d.symbol = symbol;
            model_update_along(d.model, symbol, d.walk_path, length);
            if (symbol < 256) {
                emit(d, static_cast<uint8_t>(symbol), out);
                d.state = SymbolStart;
            } else {
                d.state = PositionHigh;
            }
            break;
        }
        case PositionHigh: {
            if (!bits_ready(8)) return save();
            const uint32_t b = (buffer >> 8) & 0xFFu;
            buffer <<= 8;
            count -= 8;
            d.position_high = static_cast<uint32_t>(position_high_table[b]) << 6;
            d.extra_bits = position_length_table[b] - 2;
            d.position_low = b;
            d.state = PositionLow;
            break;
        }
        case PositionLow: {
            while (d.extra_bits > 0) {
                if (!bits_ready(1)) return save();
                --d.extra_bits;
                d.position_low = (d.position_low << 1) + take_bit();
            }
            const uint32_t position = (d.position_low & 0x3Fu) | d.position_high;
            const uint32_t start = (d.write_pos - position - 1) & RING_MASK;
            const int32_t length = d.symbol - MATCH_LENGTH_BIAS;
            // Read each character after the previous one is stored, so a copy
            // that starts close behind write_pos repeats its own output.
            int32_t copied = length;
            if constexpr (Finishing) {
                if (limit - d.output_count < copied) copied = limit - d.output_count;
            }
            for (int32_t k = 0; k < copied; ++k) {
                emit(d, d.text_ring[(start + static_cast<uint32_t>(k)) & RING_MASK], out);
            }
            if (copied < length) return save();  // finish reached its limit
            d.state = SymbolStart;
            break;
        }
        case Init:
        case SkipHeader:
        default:
            // Only reachable from finish(): nothing of the bit stream has begun.
            return save();
        }
        if constexpr (!Finishing) {
            if (taken) return save();  // stopping point
        }
    }
}

// Header bytes 2..6: the CRC's high byte, then the length, low byte first.
inline void record_header_byte(LzhufDecoder& d, uint8_t byte) {
    if (d.header_count == 2) {
        d.stream_crc = static_cast<uint16_t>(d.stream_crc | (byte << 8));
        return;
    }
    d.running_crc = crc16_update(d.running_crc, byte);
    d.stream_length |= static_cast<uint32_t>(byte) << (8 * (d.header_count - 3));
}

inline int32_t feed_one(LzhufDecoder& d, uint8_t byte, std::FILE* out) {
    switch (d.state) {
    case Init:
        initialise(d, byte);
        return 0;
    case SkipHeader:
        ++d.header_count;
        record_header_byte(d, byte);
        if (d.header_count >= HEADER_BYTES) d.state = SymbolStart;
        return d.output_count;
    default:
        d.running_crc = crc16_update(d.running_crc, byte);
        return run_steps<false>(d, byte, out, 0);
    }
}

}  // namespace

int32_t feed_byte(LzhufDecoder& d, uint8_t byte, std::FILE* out) { return feed_one(d, byte, out); }

int32_t feed_bytes(LzhufDecoder& d, const uint8_t* bytes, int32_t count, std::FILE* out, int32_t& used) {
    int32_t produced = d.output_count;
    for (used = 0; used < count;) {
        produced = feed_one(d, bytes[used++], out);
        if (stream_complete(d)) break;
    }
    return produced;
}

void restart(LzhufDecoder& d) { d.state = Init; }

int32_t stream_length_limit(const LzhufDecoder& d) {
    return d.stream_length > static_cast<uint32_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(d.stream_length);
}

bool stream_complete(const LzhufDecoder& d) {
    return d.state != Init && d.state != SkipHeader && d.output_count >= stream_length_limit(d);
}

StreamCheck stream_check(const LzhufDecoder& d) {
    // Until its first byte the fields still describe the previous stream.
    if (d.state == Init) return StreamCheck{};
    StreamCheck c{};
    c.count = d.output_count;
    c.length = d.stream_length;
    c.computed = d.running_crc;
    c.sent = d.stream_crc;
    c.intact = d.header_count >= HEADER_BYTES && c.computed == c.sent &&
               static_cast<int64_t>(c.count) == static_cast<int64_t>(c.length);
    return c;
}

int32_t finish(LzhufDecoder& d, std::FILE* out, int32_t limit) {
    if (d.state == Init || d.state == SkipHeader) return d.output_count;
    return run_steps<true>(d, 0, out, limit);
}
