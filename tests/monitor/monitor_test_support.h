// Shared by the monitor tests: the four machines with their streams, and a
// way to see what went to standard output.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "lzhuf/lzhuf_decoder.h"
#include "monitor/message_framer.h"
#include "monitor/monitor_parser.h"
#include "monitor/payload_drain.h"
#include "monitor/payload_ring.h"

inline std::string read_stream(std::FILE* f) {
    std::fflush(f);
    std::rewind(f);
    std::string text;
    char chunk[4096];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, got);
    return text;
}

// Redirects file descriptor 1 to a temporary file until text() is called.
class StdoutCapture {
public:
    StdoutCapture() : file_(std::tmpfile()) {
        std::fflush(stdout);
        saved_ = dup(1);
        dup2(fileno(file_), 1);
    }
    std::string text() {
        if (saved_ >= 0) {
            std::fflush(stdout);
            dup2(saved_, 1);
            close(saved_);
            saved_ = -1;
        }
        return read_stream(file_);
    }
    ~StdoutCapture() {
        text();
        std::fclose(file_);
    }

private:
    std::FILE* file_;
    int saved_ = -1;
};

// The process-wide instances of the program, zeroed as at process start.
struct Machines {
    PayloadRing ring;
    MonitorParser parser;
    MessageFramer framer;
    LzhufDecoder decoder;
    std::FILE* payload_file;
};

inline std::unique_ptr<Machines> make_machines() {
    auto m = std::make_unique<Machines>();
    m->payload_file = std::tmpfile();
    return m;
}

inline void feed_text(Machines& m, const std::string& text) {
    for (const char c : text) feed_char(m.parser, m.ring, m.payload_file, static_cast<uint8_t>(c));
}

inline void feed_payload(Machines& m, const std::vector<uint8_t>& bytes) {
    for (const uint8_t b : bytes) ring_append(m.ring, b);
}

inline int32_t drain(Machines& m) {
    return drain_payload_ring(m.ring, m.framer, m.decoder, m.parser, m.payload_file);
}

// The bytes appended since the last look, as the run driver would take them.
inline std::string take_unread(Machines& m) {
    std::string bytes;
    while (m.ring.read_index != m.ring.write_index) {
        bytes += static_cast<char>(m.ring.bytes[m.ring.read_index]);
        m.ring.read_index = (m.ring.read_index + 1) % PAYLOAD_RING_SIZE;
    }
    return bytes;
}
