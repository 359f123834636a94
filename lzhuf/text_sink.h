// Where decoded text goes.  The decoder only hands its characters over, a
// piece at a time; the run that owns the decoder decides where they end up
// (the console, the payload file, a message's own file), so the decoder knows
// nothing of streams or of what a console may show.  A function and its
// context, as a C callback: no allocation and no virtual call.
#pragma once

#include <cstdint>

struct TextSink {
    void (*write)(void* context, const uint8_t* text, uint32_t length);
    void* context;
};

inline void sink_text(const TextSink& sink, const uint8_t* text, uint32_t length) {
    if (length > 0) sink.write(sink.context, text, length);
}
