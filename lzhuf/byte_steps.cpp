// The byte engine: the decoding steps bit by bit, one byte per call, and the
// final drain.  It alone knows where a call stops.
#include "lzhuf/decoder_steps.h"

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
// the stream, with its last byte, or as `until` says; the calls made are
// returned, the one that stopped on the limit included.
// Draining (Draining = true): no bytes; a single bit needs one pending bit,
// and the eight position bits need eight.
// Either way decoding stops once `limit` characters have been produced,
// whether or not the call has merged its byte, and a match that would cross
// `limit` is cut there: nothing is ever written past the stream's length.
template <bool Draining>
int32_t decode(LzhufDecoder& d, const uint8_t* bytes, int32_t count, const TextSink& out, int64_t limit,
               CallsUntil until) {
    uint32_t buffer = d.bit_buffer;
    uint32_t pending = d.bit_count;
    LzhufState state = d.state;
    int32_t symbol = d.symbol;
    MatchPosition position{d.position_high, d.position_low, d.extra_bits};
    TextCursor text = text_cursor(d);
    const int32_t* const child = d.model.child;
    int32_t at = 0;  // the byte of the current call
    bool taken = false;

    // The current call returns; false when the run ends with it.
    auto next_call = [&]() -> bool {
        ++at;
        taken = false;
        return text.produced < limit && at < count && !(until == ToSymbolStart && state == SymbolStart);
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
        if (text.produced >= limit) {
            at += static_cast<int32_t>(at < count);  // the call that stopped on the limit was made
            break;
        }
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
            symbol = symbol_step(d, text, symbol, out);
            state = symbol < 256 ? SymbolStart : PositionHigh;
            break;
        case PositionHigh:
            if (!bits_ready(8)) goto stopped;
            position = position_head((buffer >> 8) & 0xFFu);
            buffer <<= 8;
            pending -= 8;
            state = PositionLow;
            break;
        case PositionLow:
            while (position.extra_bits > 0) {
                if (!bits_ready(1)) goto stopped;
                --position.extra_bits;
                position.low = (position.low << 1) + ((buffer >> 15) & 1u);
                buffer <<= 1;
                --pending;
            }
            match_step(d, text, symbol, position, limit, out);
            state = SymbolStart;
            break;
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
    d.position_high = position.high;
    d.position_low = position.low;
    d.extra_bits = position.extra_bits;
    close_text(d, text, out);
    return at;
}

}  // namespace

int32_t decode_bytes(LzhufDecoder& d, const uint8_t* bytes, int32_t count, const TextSink& out, int64_t limit,
                     CallsUntil until) {
    return decode<false>(d, bytes, count, out, limit, until);
}

int64_t drain(LzhufDecoder& d, const TextSink& out, int64_t limit) {
    decode<true>(d, nullptr, 0, out, limit, AllBytes);
    return d.output_count;
}
