// Shared set-up of the fuzz targets, each of which includes it once: outputs
// that discard what the machines put out (Recorded keeps it), machines back
// in their process-start state for every input, std::minstd_rand for split
// and restart points seeded by the input, and own_block for each piece.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "tests/support/own_block.h"
#include "tests/support/recorded_output.h"
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

inline bool same_text(const Recorded& a, const Recorded& b) { return a.text == b.text; }
