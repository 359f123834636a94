// Arbitrary bytes as a capture: parser -> ring -> drain -> framer -> decoder,
// as the capture-file run drives them.  Any crash or sanitizer report fails.
// The drain hands block data to the decoder in runs; the same capture fed to
// the framer strictly byte by byte must write exactly the same payload file.
#include <initializer_list>

#include "fuzz/fuzz_support.h"
#include "monitor/payload_drain.h"

namespace {

Machines by_runs;
Machines by_bytes;

// The drain's contract without its shortcut: advance, then hand over.
void drain_byte_by_byte(Machines& m, const MonitorOutput& out) {
    while (m.ring.read_index != m.ring.write_index) {
        const uint8_t b = m.ring.bytes[m.ring.read_index];
        m.ring.read_index = (m.ring.read_index + 1) % PAYLOAD_RING_SIZE;
        feed_byte(m.framer, m.ring, m.decoder, out, b);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 60000) return 0;
    for (Machines* m : {&by_runs, &by_bytes}) {
        reset(*m);
        feed_chars(m->parser, m->ring, fuzz_sink, data, static_cast<int32_t>(size));
        restart(m->framer);
    }
    Recorded runs, bytes;
    drain_payload_ring(by_runs.ring, by_runs.framer, by_runs.decoder, runs.output());
    drain_byte_by_byte(by_bytes, bytes.output());
    check(by_runs.ring.read_index == by_runs.ring.write_index);
    check(same_text(runs, bytes));
    check(by_runs.framer.state == by_bytes.framer.state &&
          by_runs.decoder.output_count == by_bytes.decoder.output_count);
    return 0;
}
