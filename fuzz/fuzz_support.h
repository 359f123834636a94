// Shared set-up of the fuzz targets, each of which includes it once: outputs
// that discard or record what the machines put out, machines back in their
// process-start state for every input, and std::minstd_rand for split and
// restart points seeded by the input.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "tools/monitor_machines.h"

using Machines = MonitorMachines;

// Outputs that discard what they are given.
inline const MonitorOutput fuzz_sink = silent_output();
inline const TextSink fuzz_text_sink = message_sink(fuzz_sink);

inline void reset(Machines& m) { std::memset(&m, 0, sizeof m); }

// A failed check is a crash, which the fuzzer reports with its input.
inline void check(bool ok) {
    if (!ok) std::abort();
}

// Everything the machines put out, in order, for what two ways of feeding
// the same input gave: texts as they are, lines after a tag that tells a
// logged one from a shown one.
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

inline bool same_text(const Recorded& a, const Recorded& b) { return a.text == b.text; }
