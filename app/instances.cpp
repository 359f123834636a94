#include "app/instances.h"

#include "monitor/payload_drain.h"

PayloadRing payload_ring;
MonitorParser monitor_parser;
MessageFramer message_framer;
LzhufDecoder lzhuf_decoder;

std::FILE* capture_file;
std::FILE* payload_file;
std::FILE* original_data_file;
RunOutput run_streams;
const MonitorOutput program_output = run_output(run_streams);

int32_t drain_single_ring() {
    return drain_payload_ring(payload_ring, message_framer, lzhuf_decoder, program_output);
}

int32_t feed_single_in_arrival_order(const uint8_t* chars, int32_t count) {
    return feed_in_arrival_order(monitor_parser, payload_ring, message_framer, lzhuf_decoder, program_output, chars,
                                 count);
}
