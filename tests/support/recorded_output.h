// Everything the monitor machines put out, in order, for comparing what two
// ways of feeding the same input gave.  Used by unit tests and fuzz targets.
#pragma once

#include <cstdint>
#include <string>

#include "monitor/monitor_output.h"

// Texts as they are, lines after a tag that tells a logged one from a shown
// one, and a tag for each event.
struct Recorded {
    std::string text;
    MonitorOutput output() {
        return MonitorOutput{this, append_text, append_text, append_line, opened, began, ended};
    }
    TextSink sink() { return TextSink{append_text, this}; }

    static void append_text(void* context, const uint8_t* text, uint32_t length) {
        static_cast<Recorded*>(context)->text.append(reinterpret_cast<const char*>(text), length);
    }
    static void append_line(void* context, const char* line, bool logged) {
        static_cast<Recorded*>(context)->text.append(logged ? "\1" : "\2").append(line);
    }
    static void opened(void* context) { static_cast<Recorded*>(context)->text.append("\3"); }
    static void began(void* context) { static_cast<Recorded*>(context)->text.append("\4"); }
    static void ended(void* context, const TransferSummary& s) {
        static_cast<Recorded*>(context)->text.append("\5").append(TRANSFER_END_NAMES[s.how]);
    }
};
