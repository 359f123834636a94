// The four machines of a capture run in one struct, for the tests, fuzz
// targets and benchmarks that drive them directly instead of through the
// program's single instances.  Zeroed, they are as at process start.
#pragma once

#include "lzhuf/lzhuf_decoder.h"
#include "monitor/message_framer.h"
#include "monitor/monitor_parser.h"
#include "monitor/payload_ring.h"

struct MonitorMachines {
    PayloadRing ring;
    MonitorParser parser;
    MessageFramer framer;
    LzhufDecoder decoder;
};
