// The decoding steps bit by bit: one byte per call, and the final drain.
#include "lzhuf/decoder_steps.h"
#include "lzhuf/position_tables.h"

namespace {

// The decoding steps, with the bit window, the state and the walk in locals
// from the first byte of a run to the last.
//
// Feeding (Draining = false): `bytes` is a run of bit-stream bytes, decoded
// as if each came in a feed_byte call of its own.  A "call" below is the
// part of the run that such a call would do: it merges its byte the first
// time bits are needed with 8 or fewer pending, and ends at the first
// stopping point after that (a literal written, a match symbol decoded, the
// first eight position bits taken, a match copied) or when bits are needed
// again with 8 or fewer pending.  The run ends with the call that completes
// the stream or with its last byte; `used` says how many bytes it took.
// Draining (Draining = true): no bytes; a single bit needs one pending bit,
// and the eight position bits need eight.
// Either way decoding stops once `limit` characters have been produced,
// whether or not the call has merged its byte, and a match that would cross
// `limit` is cut there: nothing is ever written past the stream's length.
template <bool Draining>
int64_t decode(LzhufDecoder& d, const uint8_t* bytes, int32_t count, const TextSink& out, int64_t limit,
               int32_t& used) {
    uint32_t buffer = d.bit_buffer;
    uint32_t pending = d.bit_count;
    LzhufState state = d.state;
    int32_t symbol = d.symbol;
    uint32_t position_high = d.position_high;
    uint32_t position_low = d.position_low;
    int32_t extra_bits = d.extra_bits;
    uint32_t write_pos = d.write_pos;
    int64_t produced = d.output_count;
    uint8_t* const ring = d.text_ring;
    const int32_t* const child = d.model.child;
    uint32_t unwritten = write_pos;  // ring text not yet handed to the streams
    int32_t at = 0;                  // the byte of the current call
    bool taken = false;

    auto put = [&](uint8_t c) { put_in_ring(ring, write_pos, unwritten, produced, c, out); };
    // The current call returns; false when the run ends with it.
    auto next_call = [&]() -> bool {
        ++at;
        taken = false;
        return produced < limit && at < count;
    };
    // True when `n` bits may be taken now.  Feeding makes 9 or more pending,
    // ending calls and merging bytes as the byte-fed rule does, and is false
    // only when the run ends first.
    auto bits_ready = [&](uint32_t n) -> bool {
        if constexpr (Draining) {
            return pending >= n;
        } else {
            (void)n;
            while (pending <= 8) {
                if (taken) {
                    if (!next_call()) return false;
                } else {
                    buffer |= static_cast<uint32_t>(bytes[at]) << (8 - pending);
                    pending += 8;
                    taken = true;
                }
            }
            return true;
        }
    };

    for (;;) {
        if (produced >= limit) break;
        switch (state) {
        case SymbolStart:
            symbol = child[ROOT_NODE];
            state = SymbolWalk;
            [[fallthrough]];
        case SymbolWalk:
            while (symbol < NODE_COUNT) {
                if (!bits_ready(1)) goto stopped;
                // Every bit above the 8 that must stay pending can be taken
                // without asking again.
                uint32_t allowed = Draining ? pending : pending - 8;
                do {
                    symbol = child[symbol + static_cast<int32_t>((buffer >> 15) & 1u)];
                    buffer <<= 1;
                    --pending;
                } while (--allowed > 0 && symbol < NODE_COUNT);
            }
            symbol -= NODE_COUNT;
            model_update(d.model, symbol);
            if (symbol < 256) {
                put(static_cast<uint8_t>(symbol));
                state = SymbolStart;
            } else {
                state = PositionHigh;
            }
            break;
        case PositionHigh: {
            if (!bits_ready(8)) goto stopped;
            const uint32_t b = (buffer >> 8) & 0xFFu;
            buffer <<= 8;
            pending -= 8;
            position_high = static_cast<uint32_t>(position_high_table[b]) << 6;
            extra_bits = position_length_table[b] - 2;
            position_low = b;
            state = PositionLow;
            break;
        }
        case PositionLow: {
            while (extra_bits > 0) {
                if (!bits_ready(1)) goto stopped;
                --extra_bits;
                position_low = (position_low << 1) + ((buffer >> 15) & 1u);
                buffer <<= 1;
                --pending;
            }
            const uint32_t position = (position_low & 0x3Fu) | position_high;
            const uint32_t from = (write_pos - position - 1) & RING_MASK;
            uint32_t length = static_cast<uint32_t>(symbol - MATCH_LENGTH_BIAS);
            if (limit - produced < static_cast<int64_t>(length)) length = static_cast<uint32_t>(limit - produced);
            copy_in_ring(ring, write_pos, unwritten, produced, from, length, out);
            state = SymbolStart;
            break;
        }
        case Init:
        case SkipHeader:
        default:
            goto stopped;  // not reached: the header is consumed before
        }
        if constexpr (!Draining) {
            if (taken && !next_call()) break;  // stopping point
        }
    }
stopped:
    d.bit_buffer = buffer;
    d.bit_count = static_cast<uint8_t>(pending);
    d.state = state;
    d.symbol = symbol;
    d.position_high = position_high;
    d.position_low = position_low;
    d.extra_bits = extra_bits;
    d.write_pos = write_pos;
    d.output_count = produced;
    write_out(ring + unwritten, write_pos - unwritten, out);
    used = at;
    return produced;
}

}  // namespace

int64_t decode_byte(LzhufDecoder& d, uint8_t byte, const TextSink& out, int64_t limit) {
    int32_t used = 0;
    return decode<false>(d, &byte, 1, out, limit, used);
}

int64_t drain(LzhufDecoder& d, const TextSink& out, int64_t limit) {
    int32_t unused = 0;
    return decode<true>(d, nullptr, 0, out, limit, unused);
}
