// Feeding whole messages to an LzhufDecoder in tests.
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "lzhuf/lzhuf_decoder.h"
#include "tests/support/own_block.h"
#include "tools/lzhuf_encoder.h"

struct DecodeResult {
    std::string stream;           // what the decoder handed its sink
    std::vector<int64_t> counts;  // the count each call returned
    std::vector<size_t> ends;     // where in the message each call's bytes ended
};

inline void append_text(void* context, const uint8_t* text, uint32_t length) {
    static_cast<std::string*>(context)->append(reinterpret_cast<const char*>(text), length);
}

// A sink that collects the decoded text in `text`.
inline TextSink string_sink(std::string& text) { return TextSink{append_text, &text}; }

// Restarts `d` and feeds `message` one byte per call, or with `run` > 0 in
// calls of up to `run` bytes, each piece a heap block of its own so that the
// sanitizers see a read past it; with `limit` >= 0, then calls finish.
inline DecodeResult decode(LzhufDecoder& d, const std::vector<uint8_t>& message, int64_t limit = -1, size_t run = 0) {
    DecodeResult r;
    const TextSink out = string_sink(r.stream);
    restart(d);
    for (size_t at = 0; at < message.size(); r.ends.push_back(at)) {
        int32_t used = 1;
        const std::vector<uint8_t> piece = own_block(&message[at], std::min(run, message.size() - at));
        r.counts.push_back(run == 0 ? feed_byte(d, message[at], out)
                                    : feed_bytes(d, piece.data(), static_cast<int32_t>(piece.size()), out, used));
        at += static_cast<size_t>(used);
    }
    if (limit >= 0) finish(d, out, limit);
    return r;
}

inline std::unique_ptr<LzhufDecoder> new_decoder() { return std::make_unique<LzhufDecoder>(); }

inline std::vector<uint8_t> bytes_of(const std::string& text) { return {text.begin(), text.end()}; }

inline std::vector<uint8_t> hand_built(LzhufEncoder& e, uint32_t length) {
    return wrap_message(encoder_bytes(e), length);
}
