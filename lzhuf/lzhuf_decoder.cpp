#include "lzhuf/lzhuf_decoder.h"

#include <climits>
#include <cstring>

#include "lzhuf/position_tables.h"
#include "lzhuf/stream_crc.h"
#include "platform/char_output.h"

namespace {

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

// Characters wait in the text ring, where they are stored anyway, and leave
// for the console and then the payload stream a piece at a time: a stream
// call per piece instead of two per character.  Short pieces, as a single
// byte gives, go character by character, which is cheaper there.
void write_out(const uint8_t* text, uint32_t length, std::FILE* out) {
    if (length < 16) {
        for (uint32_t k = 0; k < length; ++k) put_char(text[k], stdout);
        for (uint32_t k = 0; k < length; ++k) put_char(text[k], out);
    } else {
        std::fwrite(text, 1, length, stdout);
        std::fwrite(text, 1, length, out);
    }
}

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
// the eight position bits need eight, and decoding stops once `limit`
// characters have been produced.
template <bool Draining>
int32_t decode(LzhufDecoder& d, const uint8_t* bytes, int32_t count, std::FILE* out, int32_t limit,
               int32_t& used) {
    uint32_t buffer = d.bit_buffer;
    uint32_t pending = d.bit_count;
    LzhufState state = d.state;
    int32_t symbol = d.symbol;
    uint32_t position_high = d.position_high;
    uint32_t position_low = d.position_low;
    int32_t extra_bits = d.extra_bits;
    uint32_t write_pos = d.write_pos;
    int32_t produced = d.output_count;
    uint8_t* const ring = d.text_ring;
    const int32_t* const child = d.model.child;
    uint32_t unwritten = write_pos;  // ring text not yet handed to the streams
    int32_t at = 0;                  // the byte of the current call
    bool taken = false;

    auto put = [&](uint8_t c) {
        ring[write_pos] = c;
        write_pos = (write_pos + 1) & RING_MASK;
        ++produced;
        if (write_pos == 0) {  // the ring wraps: hand over its top part first
            write_out(ring + unwritten, RING_SIZE - unwritten, out);
            unwritten = 0;
        }
    };
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
        if constexpr (Draining) {
            if (produced >= limit) break;
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
            bool cut = false;  // the limit ends the drain inside this copy
            if constexpr (Draining) {
                if (static_cast<int64_t>(limit) - produced < static_cast<int64_t>(length)) {
                    length = static_cast<uint32_t>(limit - produced);
                    cut = true;
                }
            }
            // Each character is read after the previous one is stored, so a
            // copy that starts close behind write_pos repeats its own output.
            if (write_pos + length < RING_SIZE && from + length <= RING_SIZE) {
                uint8_t* const to = ring + write_pos;
                const uint8_t* const source = ring + from;
                for (uint32_t k = 0; k < length; ++k) to[k] = source[k];
                write_pos += length;
                produced += static_cast<int32_t>(length);
            } else {
                for (uint32_t k = 0; k < length; ++k) put(ring[(from + k) & RING_MASK]);
            }
            if (cut) goto stopped;
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

// Runs of several bytes, decoded with a 64-bit window and no test per bit or
// per byte.  The byte-fed rule is kept by position arithmetic instead: with
// `first` bits pending before the run, call k of the run (the call that
// feeds its byte k) merges its byte at the first bit need at a position of
// at least first + 8k - 8 (8 or fewer bits pending), and ends at the first
// stopping point after that or at the first bit need at a position of at
// least first + 8k.  A step's bit needs come one per bit (the tree walk and
// the position tail) or one for eight bits (the position head), so whole
// steps are decoded first and checked afterwards; when a call boundary
// inside a step ends the run, the step is taken back to that bit.
struct RunBits {
    uint32_t first;       // bits pending before the run
    uint32_t first_bits;  // those bits, the next one at bit 15
    const uint8_t* bytes;

    uint32_t bit_at(uint32_t position) const {
        if (position < first) return (first_bits >> (15 - position)) & 1u;
        const uint32_t p = position - first;
        return (static_cast<uint32_t>(bytes[p >> 3]) >> (7 - (p & 7))) & 1u;
    }
};

int32_t decode_run(LzhufDecoder& d, const uint8_t* bytes, int32_t count, std::FILE* out, int32_t limit,
                   int32_t& used) {
    const uint32_t first = d.bit_count;
    const RunBits source{first, d.bit_buffer & (0xFFFFu << (16 - first)) & 0xFFFFu, bytes};
    const uint32_t last_call = static_cast<uint32_t>(count) - 1;
    // Window: the bits from `position` on, the next at bit 63; bits past the
    // run's end read as zeros (a step that reaches them always ends the run).
    uint64_t window = static_cast<uint64_t>(source.first_bits) << 48;
    uint32_t position = 0;
    uint32_t loaded = first;  // position just past the last bit loaded
    int32_t next = 0;         // next byte to load
    // Calls are told apart by their boundary, first + 8k for call k: a bit
    // need at or past it ends the call once its byte is merged.
    uint32_t boundary = first;  // of the call in progress
    bool merged = false;        // that call has merged its byte
    const uint32_t last_boundary = first + 8 * last_call;
    uint32_t stop_boundary = 0;  // of the call that ends the run ...
    uint32_t stop_at = 0;        // ... and, inside a step, the bit position of its end

    LzhufState state = d.state;
    int32_t symbol = d.symbol;
    uint32_t position_high = d.position_high;
    uint32_t position_low = d.position_low;
    int32_t extra_bits = d.extra_bits;
    uint32_t write_pos = d.write_pos;
    int32_t produced = d.output_count;
    // The d.text_ring and the tree are reached through `d`, which is in a register
    // anyway: two more pointers would push loop variables onto the stack.
    uint32_t unwritten = write_pos;

    auto put = [&](uint8_t c) {
        d.text_ring[write_pos] = c;
        write_pos = (write_pos + 1) & RING_MASK;
        ++produced;
        if (write_pos == 0) {
            write_out(d.text_ring + unwritten, RING_SIZE - unwritten, out);
            unwritten = 0;
        }
    };
    // Whether a call ends in a step follows the input bits, so a branch on
    // it would be mispredicted about once per byte; the bookkeeping below is
    // arithmetic, and its one branch (the run ends) is taken once per run.
    //
    // Bit needs at positions from..to (to < from: none).  False when a call
    // ends at one of them and the run with it; stop_at is then that need.
    auto needs = [&](uint32_t from, uint32_t to) -> bool {
        if (to + 1 <= from) return true;
        merged = merged | (to + 8 >= boundary);
        const bool ends = to >= boundary;
        if (ends & ((produced >= limit) | (to >= last_boundary))) {
            stop_boundary = produced >= limit ? boundary : last_boundary;
            stop_at = stop_boundary > from ? stop_boundary : from;
            return false;
        }
        // Calls that end here produce nothing; the next one merges at once
        // and its boundary is the first one past `to`.
        boundary = ends ? to + 8 - ((to - first) & 7u) : boundary;
        return true;
    };
    // A stopping point; false when the run ends with it.
    auto stopping_point = [&]() -> bool {
        if (merged & ((produced >= limit) | (boundary == last_boundary))) {
            stop_boundary = boundary;
            return false;
        }
        boundary += 8 * static_cast<uint32_t>(merged);
        merged = false;
        return true;
    };

    // A step takes at most 8 bits plus a walk of under 24 (weights below
    // 0x8000 keep the tree shallower than that).
    auto refill = [&]() {
        if (loaded - position < 32) {
            while (next < count && loaded - position <= 56) {
                window |= static_cast<uint64_t>(bytes[next++]) << (56 - (loaded - position));
                loaded += 8;
            }
        }
    };

    // The steps follow each other by jumps, as the format orders them, and
    // `state` is written only when the run ends: a dispatch on it before
    // every step would be a second unpredictable branch beside the one on
    // literal or match.
    bool inside_step = false;
    refill();
    switch (state) {
    case SymbolStart:
        goto symbol_start;
    case SymbolWalk:
        goto symbol_walk;
    case PositionHigh:
        goto position_high;
    case PositionLow:
        goto position_low;
    case Init:
    case SkipHeader:
    default:
        stop_boundary = last_boundary;  // not reached: the header is consumed before
        goto run_over;
    }

symbol_start:
    refill();
    symbol = d.model.child[ROOT_NODE];
symbol_walk: {
    const int32_t start_link = symbol;
    const uint32_t from = position;
    while (symbol < NODE_COUNT) {
        symbol = d.model.child[symbol + static_cast<int32_t>(window >> 63)];
        window <<= 1;
        ++position;
    }
    if (!needs(from, position - 1)) {
        symbol = start_link;  // walk again, as far as the call got
        for (uint32_t p = from; p < stop_at; ++p) symbol = d.model.child[symbol + static_cast<int32_t>(source.bit_at(p))];
        state = SymbolWalk;
        inside_step = true;
        goto run_over;
    }
    symbol -= NODE_COUNT;
    model_update(d.model, symbol);
    if (symbol < 256) {
        put(static_cast<uint8_t>(symbol));
        if (stopping_point()) goto symbol_start;
        state = SymbolStart;
        goto run_over;
    }
    if (!stopping_point()) {
        state = PositionHigh;
        goto run_over;
    }
}
position_high: {
    refill();
    if (!needs(position, position)) {
        state = PositionHigh;
        inside_step = true;
        goto run_over;
    }
    const uint32_t b = static_cast<uint32_t>(window >> 56);
    window <<= 8;
    position += 8;
    position_high = static_cast<uint32_t>(position_high_table[b]) << 6;
    extra_bits = position_length_table[b] - 2;
    position_low = b;
    if (!stopping_point()) {
        state = PositionLow;
        goto run_over;
    }
}
position_low: {
    const uint32_t from = position;
    const uint32_t taken = static_cast<uint32_t>(extra_bits);
    if (!needs(from, from + taken - 1)) {
        for (uint32_t p = from; p < stop_at; ++p) position_low = (position_low << 1) + source.bit_at(p);
        extra_bits -= static_cast<int32_t>(stop_at - from);
        state = PositionLow;
        inside_step = true;
        goto run_over;
    }
    if (taken > 0) {
        position_low = (position_low << taken) | static_cast<uint32_t>(window >> (64 - taken));
        window <<= taken;
        position += taken;
    }
    extra_bits = 0;
    const uint32_t distance = (position_low & 0x3Fu) | position_high;
    const uint32_t from_pos = (write_pos - distance - 1) & RING_MASK;
    const uint32_t length = static_cast<uint32_t>(symbol - MATCH_LENGTH_BIAS);
    // Each character is read after the previous one is stored, so a copy
    // that starts close behind write_pos repeats its own output.
    if (write_pos + length < RING_SIZE && from_pos + length <= RING_SIZE) {
        uint8_t* const to = d.text_ring + write_pos;
        const uint8_t* const source_text = d.text_ring + from_pos;
        for (uint32_t k = 0; k < length; ++k) to[k] = source_text[k];
        write_pos += length;
        produced += static_cast<int32_t>(length);
    } else {
        for (uint32_t k = 0; k < length; ++k) put(d.text_ring[(from_pos + k) & RING_MASK]);
    }
    if (stopping_point()) goto symbol_start;
    state = SymbolStart;
}
run_over:
    {
        // What the run's last call leaves pending: the merged bits not taken.
        const uint32_t at = inside_step ? stop_at : position;
        const uint32_t merged_end = stop_boundary + 8;
        uint32_t buffer = 0;
        for (uint32_t p = at; p < merged_end; ++p) buffer |= source.bit_at(p) << (15 - (p - at));
        d.bit_buffer = buffer;
        d.bit_count = static_cast<uint8_t>(merged_end - at);
    }
    d.state = state;
    d.symbol = symbol;
    d.position_high = position_high;
    d.position_low = position_low;
    d.extra_bits = extra_bits;
    d.write_pos = write_pos;
    d.output_count = produced;
    write_out(d.text_ring + unwritten, write_pos - unwritten, out);
    used = static_cast<int32_t>((stop_boundary - first) / 8) + 1;
    return produced;
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

// Header bytes: the first initialises, bytes 2..6 are recorded.
inline void feed_header(LzhufDecoder& d, uint8_t byte) {
    if (d.state == Init) {
        initialise(d, byte);
        return;
    }
    ++d.header_count;
    record_header_byte(d, byte);
    if (d.header_count >= HEADER_BYTES) d.state = SymbolStart;
}

}  // namespace

int32_t feed_byte(LzhufDecoder& d, uint8_t byte, std::FILE* out) {
    int32_t used = 0;
    return feed_bytes(d, &byte, 1, out, used);
}

int32_t feed_bytes(LzhufDecoder& d, const uint8_t* bytes, int32_t count, std::FILE* out, int32_t& used) {
    used = 0;
    while (used < count && (d.state == Init || d.state == SkipHeader)) {
        feed_header(d, bytes[used++]);
        if (stream_complete(d)) return d.output_count;
    }
    if (used == count) return d.output_count;
    int32_t taken = 0;
    int32_t produced = 0;
    if (count - used > 1) {
        produced = decode_run(d, bytes + used, count - used, out, stream_length_limit(d), taken);
        d.running_crc = crc16_update(d.running_crc, bytes + used, taken);
    } else {
        d.running_crc = crc16_update(d.running_crc, bytes[used]);
        produced = decode<false>(d, bytes + used, count - used, out, stream_length_limit(d), taken);
    }
    used += taken;
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
    int32_t unused = 0;
    return decode<true>(d, nullptr, 0, out, limit, unused);
}
