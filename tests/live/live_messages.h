// Messages for the live-run tests: plain texts to send compressed, and
// reading the decoded messages back out of a payload file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/capture_builder.h"

namespace live {

// Words in a seeded order, so a text compresses like prose and no stretch of
// it repeats by accident.
inline std::string message_text(size_t size, uint64_t seed) {
    static const char* const WORDS[] = {"net",   "control", "to",     "all",     "stations", "river", "crossing",
                                        "north", "bridge",  "closed", "convoy",  "arrives",  "at",    "noon",
                                        "the",   "supply",  "depot",  "weather", "clear",    "over"};
    constexpr int64_t COUNT = sizeof WORDS / sizeof WORDS[0];
    CaptureRng rng{seed};
    std::string text;
    for (int word = 1; text.size() < size; ++word) {
        text += WORDS[rng_between(rng, 0, COUNT - 1)];
        text += word % 11 == 0 ? "\r\n" : " ";
    }
    text.resize(size);
    return text;
}

inline MessageSpec message(size_t size, uint64_t seed) {
    MessageSpec spec;
    spec.text = message_text(size, seed);
    return spec;
}

// No text report inside a transfer, so between a message's two milestone
// lines the payload file holds its decoded text alone.
inline CaptureOptions capture_options(uint64_t seed) {
    CaptureOptions options;
    options.seed = seed;
    options.reply_report = false;
    return options;
}

inline size_t count_of(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

// The console without the lines that the parser and framer print between
// pieces of decoded text: a listening pass parses all it has read (announcing
// each binary report) before it decodes, and the framer announces each block.
inline std::string without_progress_lines(std::string console) {
    const std::string binary = "\r### <Bin data>\r\n";
    for (size_t at = console.find(binary); at != std::string::npos; at = console.find(binary, at)) {
        console.erase(at, binary.size());
    }
    const std::string packet = "\r\n\r\n### LOGICAL PACKET FOUND, LEN ";
    const std::string output = "\r\n### LZHUF OUTPUT (on the fly):\r\n\r\n";
    for (size_t at = console.find(packet); at != std::string::npos; at = console.find(packet, at)) {
        const size_t end = console.find(output, at);
        if (end == std::string::npos) break;
        console.erase(at, end + output.size() - at);
    }
    return console;
}

// The framer's milestones as they stand in the payload file.
inline const std::string HEADER_LINE =
    "\r\n\r\n###====== <FC EM> HEADER FOUND, STARTING LZHUF DECOMPRESSION ======###\r\n";
inline const std::string COMPLETED_LINE =
    "\r\n\r\n###====== MESSAGE COMPLETED, DECOMPRESSION FINISHED ======###\r\n\r\n";

struct Decoded {
    std::string text;
    bool completed = false;  // closed by the completion line, not cut off
};

// The messages in a payload file: the text after each header line up to its
// completion line, or up to the next header line or the end of `payload`.
inline std::vector<Decoded> decoded_messages(const std::string& payload) {
    const std::string& header = HEADER_LINE;
    const std::string& completed = COMPLETED_LINE;
    std::vector<Decoded> found;
    for (size_t at = payload.find(header); at != std::string::npos;) {
        const size_t begin = at + header.size();
        const size_t next = payload.find(header, begin);
        const size_t done = payload.find(completed, begin);
        Decoded d;
        d.completed = done != std::string::npos && done < next;
        d.text = payload.substr(begin, (d.completed ? done : next) - begin);
        found.push_back(d);
        at = next;
    }
    return found;
}

// Decoded in full: the byte-fed decoder may hold back the last two
// characters of a message, never more, and never changes one.
inline bool whole(const Decoded& d, const std::string& text) {
    return d.completed && d.text.size() + 2 >= text.size() && text.compare(0, d.text.size(), d.text) == 0;
}

}  // namespace live
