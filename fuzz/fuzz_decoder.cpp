// Arbitrary bytes fed to the decoder one per call, with restarts at points
// the input chooses and a final finish.  Beyond crashes it checks that the
// count never falls within a message, never passes the stream's own length,
// and that a call's output is bounded by the bits it can have taken.
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static LzhufDecoder decoder;
    if (size < 2) return 0;
    std::memset(&decoder, 0, sizeof decoder);
    std::minstd_rand rng{static_cast<uint64_t>(data[0]) << 8 | data[1]};
    const uint32_t restart_odds = 1 + data[0] % 64;  // restart once in this many bytes on average
    int64_t last = 0;
    for (size_t i = 2; i < size; ++i) {
        if (rng() % (restart_odds * 16) == 0) {
            restart(decoder);
            last = 0;
        }
        const int64_t count = feed_byte(decoder, data[i], fuzz_text_sink);
        // At most 16 pending bits: a few symbols, each at most 60 characters.
        check(count >= last && count - last <= 16 * 60 && decoder.bit_count <= 16);
        check(decoder.state == SkipHeader || count <= static_cast<int64_t>(decoder.stream_length));
        last = count;
    }
    const int64_t limit = static_cast<int64_t>(rng() % 100000);
    const int64_t total = finish(decoder, fuzz_text_sink, limit);
    check(total >= last && (total <= limit || total == last));
    return 0;
}
