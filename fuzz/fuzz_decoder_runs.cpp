// The same bytes fed to two decoders: one byte per call, and in runs of
// random length as the framer hands block data over.  Every count, every
// `used`, the state left after each run and every character written must
// agree; restarts and the final finish come at the same places for both.
// Beyond that, the count never falls within a message, never passes the
// stream's own length, and a call's output is bounded by the bits it can
// have taken.
#include <vector>

#include "fuzz/fuzz_support.h"

namespace {

LzhufDecoder by_byte;
LzhufDecoder by_run;

// Only bits 0..15 of the window count; below the pending ones they are 0.
void same_state(const LzhufDecoder& a, const LzhufDecoder& b) {
    check(a.state == b.state && a.output_count == b.output_count && a.bit_count == b.bit_count);
    check((a.bit_buffer & 0xFFFFu) == (b.bit_buffer & 0xFFFFu));
    check(a.running_crc == b.running_crc && a.stream_length == b.stream_length && a.write_pos == b.write_pos);
    if (a.state == SymbolWalk || a.state == PositionHigh || a.state == PositionLow) check(a.symbol == b.symbol);
    check(a.state != PositionLow ||
          (a.extra_bits == b.extra_bits && a.position_low == b.position_low && a.position_high == b.position_high));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    std::memset(&by_byte, 0, sizeof by_byte);
    std::memset(&by_run, 0, sizeof by_run);
    std::minstd_rand rng{static_cast<uint64_t>(data[0]) << 16 | static_cast<uint64_t>(data[1]) << 8 | data[2]};
    const uint32_t longest_run = 1 + data[0] % 255;  // block data comes in runs of 1..256
    Recorded a, b;

    // Arbitrary header bytes announce lengths that are never reached; half
    // the inputs announce a short first stream instead, so that runs also
    // end where the stream completes.
    std::vector<uint8_t> stream(data + 3, data + size);
    if (data[0] & 1) {
        const uint32_t length = static_cast<uint32_t>(data[1]) << 3;
        for (size_t k = 2; k < 6 && k < stream.size(); ++k) stream[k] = static_cast<uint8_t>(length >> (8 * (k - 2)));
    }
    const int32_t total = static_cast<int32_t>(stream.size());
    int64_t last = 0;  // the count after the previous byte
    for (int32_t at = 0; at < total;) {
        if (rng() % 64 == 0) {
            restart(by_byte);
            restart(by_run);
            last = 0;
        }
        const int32_t want = static_cast<int32_t>(1 + rng() % longest_run);
        const int32_t count = want < total - at ? want : total - at;
        int32_t used = 0;
        const std::vector<uint8_t> run = own_block(stream.data() + at, static_cast<size_t>(count));
        const int64_t run_count = feed_bytes(by_run, run.data(), count, b.sink(), used);
        check(used >= 1 && used <= count);
        // One by one, the run must stop after the same byte with the same count.
        int64_t byte_count = 0;
        for (int32_t k = 0; k < used; ++k) {
            byte_count = feed_byte(by_byte, stream[static_cast<size_t>(at + k)], a.sink());
            check(k == used - 1 || !stream_complete(by_byte));
            // At most 16 pending bits: a few symbols, each at most 60 characters.
            check(byte_count >= last && byte_count - last <= 16 * 60 && by_byte.bit_count <= 16);
            check(by_byte.state == SkipHeader || byte_count <= static_cast<int64_t>(by_byte.stream_length));
            last = byte_count;
        }
        check(byte_count == run_count && (used == count || stream_complete(by_byte)));
        same_state(by_byte, by_run);
        check(same_text(a, b));
        at += used;
    }
    const int64_t limit = static_cast<int64_t>(rng() % 70000);
    const int64_t finished = finish(by_byte, a.sink(), limit);
    check(finished == finish(by_run, b.sink(), limit) && finished >= last && (finished <= limit || finished == last));
    check(same_text(a, b));
    return 0;
}
