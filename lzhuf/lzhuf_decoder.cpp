#include "lzhuf/lzhuf_decoder.h"

#include <cstring>

#include "lzhuf/decoder_steps.h"
#include "lzhuf/stream_crc.h"

namespace {

void initialise(LzhufDecoder& d, uint8_t first_byte) {
    model_start(d.model);
    d.stream_crc = first_byte;
    d.stream_length = 0;
    d.running_crc = 0;
    d.bit_buffer = 0;
    d.bit_count = 0;
    d.output_count = 0;
    // Positions RING_PREFILL..4095 keep what the previous message left there:
    // a sender's encoder that reaches back into them expects exactly that.
    std::memset(d.text_ring, ' ', RING_PREFILL);
    d.write_pos = RING_PREFILL;
    d.header_count = 1;
    d.state = SkipHeader;
}

// Header bytes 2..6: the CRC's high byte, then the length, low byte first.
inline void record_header_byte(LzhufDecoder& d, uint8_t byte) {
    if (d.header_count == 2) {
        d.stream_crc = static_cast<uint16_t>(d.stream_crc | (byte << 8));
        return;
    }
    d.running_crc = crc16_update(d.running_crc, byte);
    d.stream_length |= static_cast<uint32_t>(byte) << (8 * (d.header_count - 3));
}

// Header bytes: the first initialises, bytes 2..6 are recorded.
inline void feed_header(LzhufDecoder& d, uint8_t byte) {
    if (d.state == Init) {
        initialise(d, byte);
        return;
    }
    ++d.header_count;
    record_header_byte(d, byte);
    if (d.header_count >= HEADER_BYTES) d.state = SymbolStart;
}

}  // namespace

int64_t feed_byte(LzhufDecoder& d, uint8_t byte, const TextSink& out) {
    int32_t used = 0;
    return feed_bytes(d, &byte, 1, out, used);
}

int64_t feed_bytes(LzhufDecoder& d, const uint8_t* bytes, int32_t count, const TextSink& out, int32_t& used) {
    used = 0;
    while (used < count && (d.state == Init || d.state == SkipHeader)) {
        feed_header(d, bytes[used++]);
        if (stream_complete(d)) return d.output_count;
    }
    const int32_t body = used;
    const int64_t limit = stream_length_limit(d);
    // The byte engine up to a call that ends at a symbol's start, the run
    // engine from there while the bytes last, the byte engine for the rest:
    // every edge (the end of the bytes, the stream's length) is the byte
    // engine's.  A complete stream decodes nothing more; a call that is
    // given a byte all the same takes that one byte and no more.
    if (used < count && d.state != SymbolStart) {
        used += decode_bytes(d, bytes + used, count - used, out, limit, ToSymbolStart);
    }
    if (count - used >= RUN_SHORTEST && d.state == SymbolStart && !stream_complete(d)) {
        used += decode_run(d, bytes + used, count - used, out, limit);
    }
    // Past a complete stream only a call that has taken nothing yet goes on,
    // for its one byte.
    if (used < count && (used == body || !stream_complete(d))) {
        used += decode_bytes(d, bytes + used, count - used, out, limit, AllBytes);
    }
    d.running_crc = crc16_update(d.running_crc, bytes + body, used - body);
    return d.output_count;
}

void restart(LzhufDecoder& d) { d.state = Init; }

int64_t stream_length_limit(const LzhufDecoder& d) { return d.stream_length; }

bool stream_complete(const LzhufDecoder& d) {
    return d.state != Init && d.state != SkipHeader && d.output_count >= stream_length_limit(d);
}

StreamCheck stream_check(const LzhufDecoder& d) {
    // Until its first byte the fields still describe the previous stream.
    if (d.state == Init) return StreamCheck{};
    StreamCheck c{};
    c.count = d.output_count;
    c.length = d.stream_length;
    c.computed = d.running_crc;
    c.sent = d.stream_crc;
    c.intact = d.header_count >= HEADER_BYTES && c.computed == c.sent &&
               c.count == static_cast<int64_t>(c.length);
    return c;
}

int64_t finish(LzhufDecoder& d, const TextSink& out, int64_t limit) {
    if (d.state == Init || d.state == SkipHeader) return d.output_count;
    return drain(d, out, limit);
}
