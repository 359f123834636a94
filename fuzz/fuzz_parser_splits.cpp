// The parser must extract the same payload bytes and write the same payload
// file however its input is split into reads.  The input is parsed once
// whole and once in random pieces, alternating the per-character and the
// per-read entry points; then the framer drains the whole one's ring.
#include <algorithm>

#include "fuzz/fuzz_support.h"
#include "monitor/payload_drain.h"

namespace {
Machines whole;
Machines split;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 60000) return 0;
    reset(whole);
    reset(split);
    Recorded whole_file, split_file;
    std::minstd_rand rng{data[0]};
    feed_chars(whole.parser, whole.ring, whole_file.output(), data + 1, static_cast<int32_t>(size - 1));
    for (size_t at = 1, piece = 0; at < size; at += piece) {
        piece = std::min<size_t>(1 + rng() % 300, size - at);
        if (rng() % 2) {
            feed_chars(split.parser, split.ring, split_file.output(), data + at, static_cast<int32_t>(piece));
        } else {
            for (size_t i = 0; i < piece; ++i) feed_char(split.parser, split.ring, split_file.output(), data[at + i]);
        }
    }
    check(whole.ring.write_index == split.ring.write_index &&
          std::memcmp(whole.ring.bytes, split.ring.bytes, sizeof whole.ring.bytes) == 0);
    check(same_text(whole_file, split_file));
    check(whole.parser.state == split.parser.state && whole.parser.chars_left == split.parser.chars_left);

    restart(whole.framer);
    drain_payload_ring(whole.ring, whole.framer, whole.decoder, whole_file.output());
    return 0;
}
