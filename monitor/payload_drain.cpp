#include "monitor/payload_drain.h"

int32_t drain_payload_ring(PayloadRing& ring, MessageFramer& framer, LzhufDecoder& decoder,
                           const MonitorOutput& out) {
    int32_t handed = 0;
    while (ring.read_index != ring.write_index) {
        if (framer.state == BlockData) {
            // Block data needs no look-back: hand the decoder a whole run
            // of it, up to the write index or the end of the ring storage.
            const int32_t end = ring.write_index > ring.read_index ? ring.write_index : PAYLOAD_RING_SIZE;
            const int32_t used = feed_block_bytes(framer, ring, decoder, out,
                                                  ring.bytes + ring.read_index, end - ring.read_index);
            if (used > 0) {
                ring.read_index = ring_advance(ring.read_index, used);
                handed += used;
                continue;
            }
        }
        const uint8_t b = ring.bytes[ring.read_index];
        ring.read_index = ring_advance(ring.read_index, 1);
        feed_byte(framer, ring, decoder, out, b);
        ++handed;
    }
    return handed;
}

int32_t feed_in_arrival_order(MonitorParser& parser, PayloadRing& ring, MessageFramer& framer,
                              LzhufDecoder& decoder, const MonitorOutput& out, const uint8_t* chars,
                              int32_t count) {
    int32_t handed = 0;
    for (int32_t i = 0; i < count; ++i) {
        feed_char(parser, ring, out, chars[i]);
        if (ring.read_index != ring.write_index) {
            handed += drain_payload_ring(ring, framer, decoder, out);
        }
    }
    return handed;
}
