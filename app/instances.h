// The process-wide single instances: the ring, the three machines and the
// streams.  They live in static storage, all zero at process start, for the
// whole run; everything else takes them as parameters.
#pragma once

#include <cstdio>

#include "app/run_output.h"
#include "lzhuf/lzhuf_decoder.h"
#include "monitor/message_framer.h"
#include "monitor/monitor_parser.h"
#include "monitor/payload_ring.h"

extern PayloadRing payload_ring;
extern MonitorParser monitor_parser;
extern MessageFramer message_framer;
extern LzhufDecoder lzhuf_decoder;

extern std::FILE* capture_file;        // capture-file run only
extern std::FILE* payload_file;        // decoded text and text payloads
// Where the machines' output goes: the console and the payload file.  A run
// sets run_streams.payload_file once it has opened it.
extern RunOutput run_streams;
extern const MonitorOutput program_output;
extern std::FILE* original_data_file;  // live run only: every byte received

// The run driver's drain, on the single instances.  Returns how many payload
// bytes reached the framer.
int32_t drain_single_ring();

// The live run's parsing of one read on the single instances: parsed and
// drained byte by byte, in arrival order.  Returns how many payload bytes
// reached the framer.
int32_t feed_single_in_arrival_order(const uint8_t* chars, int32_t count);
