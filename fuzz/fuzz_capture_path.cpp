// Arbitrary bytes as a capture: parser -> ring -> drain -> framer -> decoder,
// as the capture-file run drives them.  Any crash or sanitizer report fails.
// Two machines take the same capture.  One parses it whole, as the capture
// run does; the other in random pieces, alternating the per-character and
// the per-read entry points, as reads bring it.  The ring, the payload file
// and the parser's state must agree.  Then the first drains in runs through
// the drain's shortcut, the second strictly byte by byte, and the payload
// files must still be the same.
#include <algorithm>

#include "fuzz/fuzz_support.h"
#include "monitor/payload_drain.h"

namespace {

Machines by_runs;
Machines by_bytes;

// The drain's contract without its shortcut: advance, then hand over.
void drain_byte_by_byte(Machines& m, std::FILE* out) {
    while (m.ring.read_index != m.ring.write_index) {
        const uint8_t b = m.ring.bytes[m.ring.read_index];
        m.ring.read_index = (m.ring.read_index + 1) % PAYLOAD_RING_SIZE;
        feed_byte(m.framer, m.ring, m.decoder, out, b);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 60000) return 0;
    reset(by_runs);
    reset(by_bytes);
    MemFile runs, bytes;
    std::minstd_rand rng{data[0]};
    feed_chars(by_runs.parser, by_runs.ring, runs.stream, data, static_cast<int32_t>(size));
    for (size_t at = 0, piece = 0; at < size; at += piece) {
        piece = std::min<size_t>(1 + rng() % 300, size - at);
        if (rng() % 2) {
            feed_chars(by_bytes.parser, by_bytes.ring, bytes.stream, data + at, static_cast<int32_t>(piece));
        } else {
            for (size_t i = 0; i < piece; ++i) feed_char(by_bytes.parser, by_bytes.ring, bytes.stream, data[at + i]);
        }
    }
    check(by_runs.ring.write_index == by_bytes.ring.write_index &&
          std::memcmp(by_runs.ring.bytes, by_bytes.ring.bytes, sizeof by_runs.ring.bytes) == 0);
    check(same_text(runs, bytes));
    check(by_runs.parser.state == by_bytes.parser.state && by_runs.parser.chars_left == by_bytes.parser.chars_left);

    restart(by_runs.framer);
    restart(by_bytes.framer);
    drain_payload_ring(by_runs.ring, by_runs.framer, by_runs.decoder, runs.stream);
    drain_byte_by_byte(by_bytes, bytes.stream);
    check(by_runs.ring.read_index == by_runs.ring.write_index);
    check(same_text(runs, bytes));
    check(by_runs.framer.state == by_bytes.framer.state &&
          by_runs.decoder.output_count == by_bytes.decoder.output_count);
    return 0;
}
