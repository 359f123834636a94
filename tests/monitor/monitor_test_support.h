// Shared by the monitor tests: the four machines with their streams, and the
// framer's milestone lines.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "lzhuf/lzhuf_decoder.h"
#include "monitor/monitor_parser.h"
#include "monitor/payload_drain.h"
#include "tests/support/stdout_capture.h"

inline const std::string HEADER_FOUND =
    "\r\n\r\n###====== <FC EM> HEADER FOUND, STARTING LZHUF DECOMPRESSION ======###\r\n";
inline const std::string COMPLETED = "\r\n\r\n###====== MESSAGE COMPLETED, DECOMPRESSION FINISHED ======###\r\n\r\n";
inline const std::string NOT_FOUND =
    "\r\n###====== STOPPING LZHUF DECOMPRESSION: LOGICAL PACKET NOT FOUND! ======###\r\n";

// The program's single instances, zeroed as at process start.
struct Machines {
    PayloadRing ring;
    MonitorParser parser;
    MessageFramer framer;
    LzhufDecoder decoder;
    TempStream payload;
    std::FILE* payload_file = payload.get();
};

inline std::unique_ptr<Machines> make_machines() { return std::make_unique<Machines>(); }

inline void feed_text(Machines& m, const std::string& text) {
    for (const char c : text) feed_char(m.parser, m.ring, m.payload_file, static_cast<uint8_t>(c));
}

// The bytes appended since the last look, taken as the run driver takes them.
inline std::string take_unread(Machines& m) {
    std::string bytes;
    for (; m.ring.read_index != m.ring.write_index; m.ring.read_index = (m.ring.read_index + 1) % PAYLOAD_RING_SIZE)
        bytes += static_cast<char>(m.ring.bytes[m.ring.read_index]);
    return bytes;
}

inline bool is_prefix(const std::string& part, const std::string& whole) {
    return whole.compare(0, part.size(), part) == 0;
}

// What stands between each header line of a payload file and the
// completion or stop line after it (or the file's end), from `from` on.
inline std::vector<std::string> messages_in(const std::string& file, size_t from = 0) {
    std::vector<std::string> found;
    while ((from = file.find(HEADER_FOUND, from)) != std::string::npos) {
        from += HEADER_FOUND.size();
        const size_t end = std::min(file.find(COMPLETED, from), file.find(NOT_FOUND, from));
        found.push_back(file.substr(from, end == std::string::npos ? std::string::npos : end - from));
        if (end == std::string::npos) break;
        from = end;
    }
    return found;
}
