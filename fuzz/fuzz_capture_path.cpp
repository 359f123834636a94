// Arbitrary bytes as a capture: parser -> ring -> drain -> framer -> decoder,
// as the capture-file run drives them.  Any crash or sanitizer report fails.
// The drain hands block data to the decoder in runs; the same capture fed to
// the framer strictly byte by byte must write exactly the same payload file.
#include <cstdio>
#include <initializer_list>

#include "fuzz/fuzz_support.h"
#include "monitor/monitor_parser.h"
#include "monitor/payload_drain.h"

namespace {

Machines by_runs;
Machines by_bytes;
char runs_text[1 << 22];
char bytes_text[1 << 22];

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
    if (size > 60000) return 0;
    reset(by_runs);
    reset(by_bytes);
    std::FILE* runs_file = fmemopen(runs_text, sizeof runs_text, "wb");
    std::FILE* bytes_file = fmemopen(bytes_text, sizeof bytes_text, "wb");
    if (!runs_file || !bytes_file) std::abort();

    for (Machines* m : {&by_runs, &by_bytes}) {
        feed_chars(m->parser, m->ring, fuzz_sink, data, static_cast<int32_t>(size));
        restart(m->framer);
    }
    drain_payload_ring(by_runs.ring, by_runs.framer, by_runs.decoder, runs_file);
    drain_byte_by_byte(by_bytes, bytes_file);
    if (by_runs.ring.read_index != by_runs.ring.write_index) std::abort();

    const long runs_size = std::ftell(runs_file);
    const long bytes_size = std::ftell(bytes_file);
    std::fflush(runs_file);
    std::fflush(bytes_file);
    if (runs_size != bytes_size || std::memcmp(runs_text, bytes_text, static_cast<size_t>(runs_size)) != 0) {
        std::abort();
    }
    if (by_runs.framer.state != by_bytes.framer.state || by_runs.decoder.output_count != by_bytes.decoder.output_count) {
        std::abort();
    }
    std::fclose(runs_file);
    std::fclose(bytes_file);
    return 0;
}
