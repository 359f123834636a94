// Feeding whole messages to an LzhufDecoder in tests.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "lzhuf/lzhuf_decoder.h"
#include "tests/support/stdout_capture.h"
#include "tools/lzhuf_encoder.h"

struct DecodeResult {
    std::string stream;           // what the decoder wrote to its stream
    std::string console;          // what it printed
    std::vector<int64_t> counts;  // the value each feed_byte returned
};

// Restarts `d` and feeds `message` one byte per call; with `limit` >= 0,
// then calls finish.
inline DecodeResult decode(LzhufDecoder& d, const std::vector<uint8_t>& message, int64_t limit = -1) {
    DecodeResult r;
    TempStream out;
    StdoutCapture console;
    restart(d);
    for (uint8_t byte : message) r.counts.push_back(feed_byte(d, byte, out.get()));
    if (limit >= 0) finish(d, out.get(), limit);
    r.console = console.stop();
    r.stream = out.contents();
    return r;
}

inline std::unique_ptr<LzhufDecoder> new_decoder() { return std::make_unique<LzhufDecoder>(); }

inline std::vector<uint8_t> bytes_of(const std::string& text) { return {text.begin(), text.end()}; }

inline std::vector<uint8_t> hand_built(LzhufEncoder& e, uint32_t length) {
    return wrap_message(encoder_bytes(e), length);
}
