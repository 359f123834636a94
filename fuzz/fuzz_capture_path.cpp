// Arbitrary bytes as a capture: parser -> ring -> drain -> framer -> decoder,
// as the capture-file run drives them.  Any crash or sanitizer report fails.
#include "fuzz/fuzz_support.h"
#include "monitor/payload_drain.h"

namespace {
Machines machines;
std::FILE* sink;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    sink = discard_console_and_open_sink();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    reset(machines);
    Machines& m = machines;
    feed_chars(m.parser, m.ring, sink, data, static_cast<int32_t>(size));
    restart(m.framer);
    drain_payload_ring(m.ring, m.framer, m.decoder, m.parser, sink);
    if (m.ring.read_index != m.ring.write_index) std::abort();
    return 0;
}
