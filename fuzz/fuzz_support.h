// Shared set-up of the fuzz targets: console output discarded, a payload
// sink, and machines back in their process-start state for every input.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lzhuf/lzhuf_decoder.h"
#include "monitor/message_framer.h"
#include "monitor/monitor_parser.h"
#include "monitor/payload_ring.h"

struct Machines {
    PayloadRing ring;
    MonitorParser parser;
    MessageFramer framer;
    LzhufDecoder decoder;
};

// A payload stream that discards what it is given; set up, together with
// a console that discards too (the fuzzer's own reports go to stderr), by
// fuzz_init.cpp before the first input.
extern std::FILE* fuzz_sink;

inline void reset(Machines& m) { std::memset(&m, 0, sizeof m); }

// A small deterministic generator driven by the input, for split points and
// restart points.
struct SplitRng {
    uint64_t state;
    uint32_t next() {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(state >> 33);
    }
};
