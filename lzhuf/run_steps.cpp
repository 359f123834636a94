// The run engine: whole decoding steps from a 64-bit window, with no test
// per bit or per byte, while the bytes are far from their end.
#include "lzhuf/decoder_steps.h"

namespace {

// The most characters one step can produce: a match of 60.
constexpr int64_t MOST_CHARACTERS = 60;

}  // namespace

// Entry assumptions:
//   d.state is SymbolStart and a call has just begun: its byte, bytes[0], is
//   not merged, and d.bit_count (0..16) bits are pending.
//   `limit` is the count at which the call that reaches it ends the run.
// On return:
//   The steps decoded are those the byte engine would decode from the same
//   bytes, one call per byte: a step is begun only while all its bits lie at
//   least two bytes before the end of the run and the count is more than one
//   match below `limit`, so no call made here ends the run or cuts a match.
//   The return value k is the number of calls completed; call k (bytes[k])
//   has begun and has not merged its byte.  d holds its pending bits, 8 to 16
//   of them, and the state SymbolStart, exactly as the byte engine leaves a
//   call that has not merged its byte yet, so bytes[k..count) go on through
//   the byte engine.  When not one step can be begun, d is as it was and k is 0.
//
// How the calls are found without following them: call k (of byte k) merges
// its byte at the first bit need at a position of at least first + 8k - 8,
// with `first` the bits pending before the run, and ends at the first
// stopping point after that or at a bit need at first + 8k or later.  So after
// a step whose last bit need was at position L, the call in progress has
// not merged its byte, and its byte follows the byte that holds L: whether
// L's call merged its byte (it has ended at this stopping point) or not (it
// goes on).  The last need of every step is a single bit (the last walk bit
// of a literal, the last position bit of a match).
int32_t decode_run(LzhufDecoder& d, const uint8_t* bytes, int32_t count, const TextSink& out, int64_t limit) {
    const uint32_t first = d.bit_count;
    const uint32_t run_end = first + 8 * static_cast<uint32_t>(count);
    // The bits from `position` on, the next at bit 63; bits not loaded read as 0.
    uint64_t window = static_cast<uint64_t>(d.bit_buffer & (0xFFFFu << (16 - first)) & 0xFFFFu) << 48;
    uint32_t position = 0;
    uint32_t loaded = first;  // position just past the last bit loaded
    int32_t next = 0;         // next byte to load
    TextCursor text = text_cursor(d);

    // Keeps 32 or more bits ahead of `position`, which covers a whole walk
    // and, loaded again before it, a whole position code.
    auto refill = [&]() {
        if (loaded - position < 32) {
            while (next < count && loaded - position <= 56) {
                window |= static_cast<uint64_t>(bytes[next++]) << (56 - (loaded - position));
                loaded += 8;
            }
        }
    };

    refill();
    while (position + RUN_MARGIN <= run_end && text.produced + MOST_CHARACTERS < limit) {
        int32_t node = d.model.child[ROOT_NODE];
        while (node < NODE_COUNT) {
            node = d.model.child[node + static_cast<int32_t>(window >> 63)];
            window <<= 1;
            ++position;
        }
        const int32_t symbol = symbol_step(d, text, node, out);
        if (symbol >= 256) {
            refill();
            MatchPosition p = position_head(static_cast<uint32_t>(window >> 56));
            // The head's eight bits and the tail in one read: `low` gets the
            // code's bits, of which the position takes the last six.
            const uint32_t code_bits = 8 + static_cast<uint32_t>(p.extra_bits);
            p.low = static_cast<uint32_t>(window >> (64 - code_bits));
            window <<= code_bits;
            position += code_bits;
            match_step(d, text, symbol, p, limit, out);
        }
        refill();
    }
    if (position == 0) return 0;  // not one step: d is as it was

    // The call in progress: byte k, one after the byte that holds the last
    // need; before the run's own bytes, the first call unless the need was
    // close enough to the end of the pending bits to merge bytes[0].
    const uint32_t last = position - 1;
    uint32_t k = 0;
    if (last >= first) {
        k = (last - first) / 8 + 2;
    } else {
        k = last + 8 >= first ? 1 : 0;
    }
    const uint32_t pending = first + 8 * k - position;
    d.bit_buffer = static_cast<uint32_t>(window >> 48) & (0xFFFFu << (16 - pending)) & 0xFFFFu;
    d.bit_count = static_cast<uint8_t>(pending);
    close_text(d, text, out);
    return static_cast<int32_t>(k);
}
