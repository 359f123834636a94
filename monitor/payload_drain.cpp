#include "monitor/payload_drain.h"

int32_t drain_payload_ring(PayloadRing& ring, MessageFramer& framer, LzhufDecoder& decoder,
                           MonitorParser& parser, std::FILE* payload_file) {
    int32_t handed = 0;
    while (ring.read_index != ring.write_index) {
        const uint8_t b = ring.bytes[ring.read_index];
        const int32_t next = ring.read_index + 1;
        ring.read_index = next == PAYLOAD_RING_SIZE ? 0 : next;
        feed_byte(framer, ring, decoder, parser, payload_file, b);
        ++handed;
    }
    return handed;
}
