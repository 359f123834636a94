// The parser must extract the same payload bytes and write the same payload
// file however its input is split into reads.  The input is parsed once
// whole and once in random pieces, alternating the per-character and the
// per-read entry points; then the framer drains both rings.
#include <cstdio>

#include "fuzz/fuzz_support.h"
#include "monitor/monitor_parser.h"
#include "monitor/payload_drain.h"

namespace {
Machines whole;
Machines split;
char whole_text[1 << 20];
char split_text[1 << 20];
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 60000) return 0;
    reset(whole);
    reset(split);
    std::FILE* whole_file = fmemopen(whole_text, sizeof whole_text, "wb");
    std::FILE* split_file = fmemopen(split_text, sizeof split_text, "wb");
    if (!whole_file || !split_file) std::abort();

    SplitRng rng{data[0]};
    feed_chars(whole.parser, whole.ring, whole_file, data + 1, static_cast<int32_t>(size - 1));
    size_t at = 1;
    while (at < size) {
        size_t piece = 1 + rng.next() % 300;
        if (piece > size - at) piece = size - at;
        if (rng.next() % 2) {
            feed_chars(split.parser, split.ring, split_file, data + at, static_cast<int32_t>(piece));
        } else {
            for (size_t i = 0; i < piece; ++i) feed_char(split.parser, split.ring, split_file, data[at + i]);
        }
        at += piece;
    }
    const long whole_size = std::ftell(whole_file);
    const long split_size = std::ftell(split_file);
    std::fflush(whole_file);
    std::fflush(split_file);
    if (whole.ring.write_index != split.ring.write_index) std::abort();
    if (std::memcmp(whole.ring.bytes, split.ring.bytes, sizeof whole.ring.bytes) != 0) std::abort();
    if (whole_size != split_size || std::memcmp(whole_text, split_text, static_cast<size_t>(whole_size)) != 0) {
        std::abort();
    }
    if (whole.parser.state != split.parser.state || whole.parser.chars_left != split.parser.chars_left) std::abort();

    restart(whole.framer);
    drain_payload_ring(whole.ring, whole.framer, whole.decoder, whole_file);
    std::fclose(whole_file);
    std::fclose(split_file);
    return 0;
}
