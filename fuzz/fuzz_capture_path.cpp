// Arbitrary bytes as a capture: parser -> ring -> drain -> framer -> decoder.
// Any crash or sanitizer report fails.  Two sets of machines take the same
// capture.  One parses it whole and drains it as the capture-file run does,
// handing block data to the decoder in runs.  The other parses it in random
// pieces, alternating the per-read and the per-character entry points, and
// drains strictly byte by byte.  The payload bytes, what was written and the
// states left must all agree.
#include <algorithm>
#include <initializer_list>

#include "fuzz/fuzz_support.h"
#include "monitor/payload_drain.h"

namespace {

Machines whole;
Machines split;

// The drain's contract without its shortcut: advance, then hand over.
void drain_byte_by_byte(Machines& m, const MonitorOutput& out) {
    while (m.ring.read_index != m.ring.write_index) {
        const uint8_t b = m.ring.bytes[m.ring.read_index];
        m.ring.read_index = ring_advance(m.ring.read_index, 1);
        feed_byte(m.framer, m.ring, m.decoder, out, b);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 60000) return 0;
    for (Machines* m : {&whole, &split}) reset(*m);
    Recorded whole_out, split_out;
    std::minstd_rand rng{data[0]};
    feed_chars(whole.parser, whole.ring, whole_out.output(), data + 1, static_cast<int32_t>(size - 1));
    for (size_t at = 1, piece = 0; at < size; at += piece) {
        piece = std::min<size_t>(1 + rng() % 300, size - at);
        const std::vector<uint8_t> read = own_block(data + at, piece);
        if (rng() % 2) {
            feed_chars(split.parser, split.ring, split_out.output(), read.data(), static_cast<int32_t>(piece));
        } else {
            for (const uint8_t c : read) feed_char(split.parser, split.ring, split_out.output(), c);
        }
    }
    check(whole.ring.write_index == split.ring.write_index &&
          std::memcmp(whole.ring.bytes, split.ring.bytes, sizeof whole.ring.bytes) == 0);
    check(whole.parser.state == split.parser.state && whole.parser.chars_left == split.parser.chars_left);

    // What the capture-file run does once the capture has been read.
    restart(whole.framer);
    restart(split.framer);
    drain_payload_ring(whole.ring, whole.framer, whole.decoder, whole_out.output());
    drain_byte_by_byte(split, split_out.output());
    check(whole.ring.read_index == whole.ring.write_index);
    check(same_text(whole_out, split_out));
    check(whole.framer.state == split.framer.state && whole.decoder.output_count == split.decoder.output_count);
    return 0;
}
