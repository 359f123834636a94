// Where the monitor machines' output goes.  The run fills this in and the
// machines only hand their text over: which of it reaches the console, the
// payload file or a message's own file, and how a console shows it, is the
// run's business.  Plain function pointers and one context, as C callbacks:
// a test, a fuzz target or a second pass passes its own.
#pragma once

#include <cstdint>

#include "lzhuf/text_sink.h"

struct MonitorOutput {
    void* context;
    // Characters of a text report, as they came over the air.
    void (*report_text)(void* context, const uint8_t* text, uint32_t length);
    // Decoded characters of the message being received.
    void (*message_text)(void* context, const uint8_t* text, uint32_t length);
    // One of the machines' own lines; a `logged` one belongs in the payload
    // file too, where it marks the messages apart from the text around them.
    void (*line)(void* context, const char* text, bool logged);
};

// The decoder's sink for the message text.
inline TextSink message_sink(const MonitorOutput& out) { return TextSink{out.message_text, out.context}; }

// Nothing goes anywhere: for a pass that only collects payload bytes again.
MonitorOutput silent_output();
