// Shared by the monitor tests: the four machines with their streams.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "app/run_output.h"
#include "monitor/payload_drain.h"
#include "tests/support/stdout_capture.h"
#include "tools/monitor_machines.h"

// The machines with a payload file of their own, and the program's output
// to it and to the console.
struct Machines : MonitorMachines {
    TempStream payload;
    RunOutput streams{.payload_file = payload.get()};
    MonitorOutput output = run_output(streams);
};

inline std::unique_ptr<Machines> make_machines() { return std::make_unique<Machines>(); }

inline void feed_text(Machines& m, const std::string& text) {
    for (const char c : text) feed_char(m.parser, m.ring, m.output, static_cast<uint8_t>(c));
}

// The bytes appended since the last look, taken as the run driver takes them.
inline std::string take_unread(Machines& m) {
    std::string bytes;
    for (; m.ring.read_index != m.ring.write_index; m.ring.read_index = ring_advance(m.ring.read_index, 1))
        bytes += static_cast<char>(m.ring.bytes[m.ring.read_index]);
    return bytes;
}

// Payload bytes into the ring, then drained through the framer; returns
// what was printed.
inline std::string frame(Machines& m, const uint8_t* bytes, size_t count) {
    StdoutCapture out;
    for (size_t i = 0; i < count; ++i) ring_append(m.ring, bytes[i]);
    drain_payload_ring(m.ring, m.framer, m.decoder, m.output);
    return out.stop();
}
inline std::string frame(Machines& m, const std::vector<uint8_t>& bytes) { return frame(m, bytes.data(), bytes.size()); }
