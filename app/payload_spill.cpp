#include "app/payload_spill.h"

#include <cstring>

#include "app/stream_buffers.h"
#include "monitor/payload_drain.h"

namespace {

std::FILE* spill_file;
bool spill_failed;

// Replay chunks stay far below the ring size, so the 25 bytes the framer
// looks back at are never overwritten while it needs them.
constexpr size_t REPLAY_CHUNK = 65536;
static_assert(REPLAY_CHUNK + 25 < PAYLOAD_RING_SIZE);
uint8_t replay_buffer[REPLAY_CHUNK];

int32_t unread_count(const PayloadRing& ring) {
    return (ring.write_index - ring.read_index + PAYLOAD_RING_SIZE) % PAYLOAD_RING_SIZE;
}

// Moves the ring's unread bytes to the spill file (two pieces when they wrap).
void spill_unread(PayloadRing& ring) {
    const int32_t read = ring.read_index;
    const int32_t write = ring.write_index;
    if (read <= write) {
        std::fwrite(ring.bytes + read, 1, static_cast<size_t>(write - read), spill_file);
    } else {
        std::fwrite(ring.bytes + read, 1, static_cast<size_t>(PAYLOAD_RING_SIZE - read), spill_file);
        std::fwrite(ring.bytes, 1, static_cast<size_t>(write), spill_file);
    }
    ring.read_index = write;
}

}  // namespace

void spill_if_needed(PayloadRing& ring, int32_t room) {
    if (PAYLOAD_RING_SIZE - 1 - unread_count(ring) >= room) return;
    if (!spill_file && !spill_failed) {
        spill_file = std::tmpfile();
        // Without a temporary file the ring simply wraps as it always did;
        // the run still completes.
        spill_failed = spill_file == nullptr;
        if (spill_file) use_static_buffer(spill_file, SpillStream);
    }
    if (spill_file) spill_unread(ring);
}

bool spill_active() { return spill_file != nullptr; }

void replay_spilled(PayloadRing& ring, MessageFramer& framer, LzhufDecoder& decoder,
                    std::FILE* payload_file) {
    spill_unread(ring);
    std::fflush(spill_file);
    std::rewind(spill_file);
    // Start over as if the ring were new: zero bytes behind the first one.
    std::memset(ring.bytes, 0, sizeof ring.bytes);
    ring.write_index = 0;
    ring.read_index = 0;
    size_t got = 0;
    while ((got = std::fread(replay_buffer, 1, REPLAY_CHUNK, spill_file)) > 0) {
        for (size_t i = 0; i < got; ++i) ring_append(ring, replay_buffer[i]);
        drain_payload_ring(ring, framer, decoder, payload_file);
    }
    std::fclose(spill_file);
    spill_file = nullptr;
}
