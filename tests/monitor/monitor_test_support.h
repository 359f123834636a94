// Shared by the monitor tests: the four machines with their streams, what
// they print, and the framer's milestone lines.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "lzhuf/lzhuf_decoder.h"
#include "monitor/payload_drain.h"

inline const std::string HEADER_FOUND =
    "\r\n\r\n###====== <FC EM> HEADER FOUND, STARTING LZHUF DECOMPRESSION ======###\r\n";
inline const std::string COMPLETED = "\r\n\r\n###====== MESSAGE COMPLETED, DECOMPRESSION FINISHED ======###\r\n\r\n";
inline const std::string NOT_FOUND =
    "\r\n###====== STOPPING LZHUF DECOMPRESSION: LOGICAL PACKET NOT FOUND! ======###\r\n";

inline std::string read_stream(std::FILE* f) {
    std::fflush(f);
    std::rewind(f);
    std::string text;
    char chunk[4096];
    for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, f)) > 0;) text.append(chunk, got);
    return text;
}

// Redirects file descriptor 1 to a temporary file until text() is called.
class StdoutCapture {
public:
    StdoutCapture() : file_(std::tmpfile()), saved_((std::fflush(stdout), dup(1))) { dup2(fileno(file_), 1); }
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
    int saved_;
};

// The program's single instances, zeroed as at process start.
struct Machines {
    PayloadRing ring;
    MonitorParser parser;
    MessageFramer framer;
    LzhufDecoder decoder;
    std::FILE* payload_file;
    ~Machines() {
        if (payload_file) std::fclose(payload_file);
    }
};

inline std::unique_ptr<Machines> make_machines() {
    auto m = std::make_unique<Machines>();
    m->payload_file = std::tmpfile();
    return m;
}

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
