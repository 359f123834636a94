// Arbitrary bytes as a capture: parser -> ring -> drain -> framer -> decoder,
// as the capture-file run drives them.  Any crash or sanitizer report fails.
#include "fuzz/fuzz_support.h"
#include "monitor/payload_drain.h"

namespace {
Machines machines;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    reset(machines);
    Machines& m = machines;
    feed_chars(m.parser, m.ring, fuzz_sink, data, static_cast<int32_t>(size));
    restart(m.framer);
    drain_payload_ring(m.ring, m.framer, m.decoder, m.parser, fuzz_sink);
    if (m.ring.read_index != m.ring.write_index) std::abort();
    return 0;
}
