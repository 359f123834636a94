// The check line that must follow a message, worked out from the bytes of
// its compressed stream that reached the decoder, with the encoder's own CRC.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/lzhuf_encoder.h"

// The lines that open and close a message.
inline const std::string HEADER_FOUND =
    "\r\n\r\n###====== <FC EM> HEADER FOUND, STARTING LZHUF DECOMPRESSION ======###\r\n";
inline const std::string COMPLETED = "\r\n\r\n###====== MESSAGE COMPLETED, DECOMPRESSION FINISHED ======###\r\n\r\n";
inline const std::string NO_HEADER = "\r\n\r\n###====== NO <FC EM> HEADER, STARTING LZHUF DECOMPRESSION ======###\r\n";
// The lines that close a transfer cut short, before its check line.
inline const std::string STOPPING = "\r\n###====== STOPPING LZHUF DECOMPRESSION: LOGICAL PACKET NOT FOUND! ======###\r\n";
inline const std::string NEXT_HEADER = "\r\n###====== STOPPING LZHUF DECOMPRESSION: NEXT HEADER FOUND ======###\r\n";
inline const std::string TIMEOUT = "\r\n###===== STOPPING LZHUF DECOMPRESSION: *** TIMEOUT *** =====###\r\n";
inline const std::string PORT_LOST = "\r\n###====== STOPPING LZHUF DECOMPRESSION: PORT LOST ======###\r\n";
inline const std::string END_OF_CAPTURE = "\r\n###====== STOPPING LZHUF DECOMPRESSION: END OF CAPTURE ======###\r\n";
inline const std::string RUN_STOPPED = "\r\n###====== STOPPING LZHUF DECOMPRESSION: RUN STOPPED ======###\r\n";

// How often `part` occurs in `text`.
inline size_t count_of(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

inline uint32_t length_field(const std::vector<uint8_t>& fed) {
    uint32_t length = 0;
    for (size_t i = 2; i < std::min<size_t>(fed.size(), 6); ++i) length |= uint32_t{fed[i]} << (8 * (i - 2));
    return length;
}

// `count`: the characters those bytes decoded to.
inline std::string check_line(const std::vector<uint8_t>& fed, size_t count) {
    if (fed.empty()) return "### MESSAGE CHECK: DAMAGED (0 OF 0 CHARACTERS, CRC 0000, SENT 0000)\r\n\r\n";
    const unsigned sent = unsigned{fed[0]} | (fed.size() > 1 ? unsigned{fed[1]} << 8 : 0u);
    const uint32_t length = length_field(fed);
    const unsigned crc = fed.size() > 2 ? crc16_ccitt(fed.data() + 2, fed.size() - 2) : 0;
    const bool ok = fed.size() >= 6 && crc == sent && count == length;
    char line[128];
    std::snprintf(line, sizeof line, "### MESSAGE CHECK: %s (%zu OF %u CHARACTERS, CRC %04X, SENT %04X)\r\n\r\n",
                  ok ? "OK" : "DAMAGED", count, length, crc, sent);
    return line;
}

// The line after an intact message of `text`.
inline std::string ok_line(const std::string& text) {
    return check_line(lzhuf_compress(reinterpret_cast<const uint8_t*>(text.data()), text.size()), text.size());
}
