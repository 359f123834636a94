// The decoding steps for a run of block bytes.
#include "lzhuf/decoder_steps.h"
#include "lzhuf/position_tables.h"

namespace {

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
// Bits a whole match can take at most (a walk under 24, 8, 6) plus 8, so
// that a symbol decoded this far before the last call's boundary cannot even
// merge the run's last byte.
constexpr uint32_t FAR_FROM_END = 48;
// Characters one symbol can produce at most: a match of 60.
constexpr int64_t MAX_MATCH = 60;

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

}  // namespace

int64_t decode_run(LzhufDecoder& d, const uint8_t* bytes, int32_t count, const TextSink& out, int64_t limit,
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
    int64_t produced = d.output_count;
    // The ring and the tree are reached through `d`, which is in a register
    // anyway: two more pointers would push loop variables onto the stack.
    uint32_t unwritten = write_pos;

    auto put = [&](uint8_t c) { put_in_ring(d.text_ring, write_pos, unwritten, produced, c, out); };
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

    // The match of `symbol` from `distance` + 1 places back.
    auto copy_match = [&](uint32_t distance) {
        copy_in_ring(d.text_ring, write_pos, unwritten, produced, (write_pos - distance - 1) & RING_MASK,
                     static_cast<uint32_t>(symbol - MATCH_LENGTH_BIAS), out);
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
    if (position + FAR_FROM_END <= last_boundary && produced + MAX_MATCH < limit) {
        // Far from the run's end and from the limit no call can end the
        // run, and which call is in progress after a step depends only on
        // the position of the step's last bit need: so whole symbols are
        // decoded here without any bookkeeping, and the call is worked out
        // once afterwards.
        do {
            symbol = d.model.child[ROOT_NODE];
            while (symbol < NODE_COUNT) {
                symbol = d.model.child[symbol + static_cast<int32_t>(window >> 63)];
                window <<= 1;
                ++position;
            }
            symbol -= NODE_COUNT;
            model_update(d.model, symbol);
            if (symbol < 256) {
                put(static_cast<uint8_t>(symbol));
            } else {
                refill();
                const uint32_t b = static_cast<uint32_t>(window >> 56);
                const uint32_t taken = position_length_table[b] - 2u;  // 1..6 more bits
                const uint32_t code = static_cast<uint32_t>(window >> (56 - taken));
                window <<= 8 + taken;
                position += 8 + taken;
                copy_match((static_cast<uint32_t>(position_high_table[b]) << 6) | (code & 0x3Fu));
            }
            refill();
        } while (position + FAR_FROM_END <= last_boundary && produced + MAX_MATCH < limit);
        // The last bit need was at position - 1, and no call has merged its
        // byte since then.  The first boundary past it, b, is either the
        // boundary of a call that merged its byte and ended at this stopping
        // point, or that of a call that has not merged its byte yet, whose
        // boundary is then b + 8 (a call whose boundary is b has merged).
        // Either way the call in progress now has the boundary b + 8.  Before
        // the run's first boundary only the first call can be in progress.
        const uint32_t last = position - 1;
        if (last >= first) {
            boundary = last + 16 - ((last - first) & 7u);
        } else {
            boundary = last + 8 >= first ? first + 8 : first;
        }
        merged = false;
        if (position + FAR_FROM_END > last_boundary) refill();
    }
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
    copy_match((position_low & 0x3Fu) | position_high);
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
