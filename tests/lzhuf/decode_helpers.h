// Feeding whole messages to an LzhufDecoder in tests.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "lzhuf/lzhuf_decoder.h"
#include "tools/lzhuf_encoder.h"

struct DecodeResult {
    std::string stream;           // what the decoder handed its sink
    std::vector<int64_t> counts;  // the value each feed_byte returned
};

inline void append_text(void* context, const uint8_t* text, uint32_t length) {
    static_cast<std::string*>(context)->append(reinterpret_cast<const char*>(text), length);
}

// A sink that collects the decoded text in `text`.
inline TextSink string_sink(std::string& text) { return TextSink{append_text, &text}; }

// Restarts `d` and feeds `message` one byte per call; with `limit` >= 0,
// then calls finish.
inline DecodeResult decode(LzhufDecoder& d, const std::vector<uint8_t>& message, int64_t limit = -1) {
    DecodeResult r;
    const TextSink out = string_sink(r.stream);
    restart(d);
    for (uint8_t byte : message) r.counts.push_back(feed_byte(d, byte, out));
    if (limit >= 0) finish(d, out, limit);
    return r;
}

inline std::unique_ptr<LzhufDecoder> new_decoder() { return std::make_unique<LzhufDecoder>(); }

inline std::vector<uint8_t> bytes_of(const std::string& text) { return {text.begin(), text.end()}; }

inline std::vector<uint8_t> hand_built(LzhufEncoder& e, uint32_t length) {
    return wrap_message(encoder_bytes(e), length);
}
