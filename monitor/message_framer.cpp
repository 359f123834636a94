#include "monitor/message_framer.h"

#include <cstring>

#include "monitor/number_reading.h"

namespace {

constexpr uint8_t STX = 0x02;
constexpr uint8_t EOT = 0x04;

constexpr const char* HEADER_FOUND =
    "\r\n\r\n###====== <FC EM> HEADER FOUND, STARTING LZHUF DECOMPRESSION ======###\r\n";
constexpr const char* MESSAGE_COMPLETED =
    "\r\n\r\n###====== MESSAGE COMPLETED, DECOMPRESSION FINISHED ======###\r\n\r\n";
constexpr const char* PACKET_NOT_FOUND =
    "\r\n###====== STOPPING LZHUF DECOMPRESSION: LOGICAL PACKET NOT FOUND! ======###\r\n";

// Milestones go to the console and into the payload file, where they mark
// the messages apart from the text around them.
void announce(std::FILE* payload_file, const char* text) {
    std::fputs(text, stdout);
    std::fputs(text, payload_file);
}

void seek_header(MessageFramer& f, const PayloadRing& ring, std::FILE* payload_file) {
    // The F of "FC EM" must be 25 back; testing it first skips the copy for
    // nearly every byte.
    if (ring_byte_back(ring, HEADER_LOOK_BACK) != 'F') return;
    char line[HEADER_LOOK_BACK + 1];
    for (int32_t i = 0; i < HEADER_LOOK_BACK; ++i) line[i] = static_cast<char>(ring_byte_back(ring, HEADER_LOOK_BACK - i));
    line[HEADER_LOOK_BACK] = '\0';
    if (std::memcmp(line, "FC EM", 5) != 0) return;

    announce(payload_file, HEADER_FOUND);
    // The identifier follows "FC EM "; the length follows the next blank.
    // Without a blank in reach the previous message's length stays.
    for (int32_t i = 6; i <= 23; ++i) {
        if (line[i] == ' ') {
            f.uncompressed_len = read_decimal(line + i, HEADER_LOOK_BACK - i);
            break;
        }
    }
    if (f.uncompressed_len != 0) std::printf("### UNCOMPRESSED LEN OF MESSAGE: %d\r\n", f.uncompressed_len);
    f.state = SeekStart;
}

void seek_start(MessageFramer& f, const PayloadRing& ring, LzhufDecoder& decoder) {
    if (ring_byte_back(ring, 1) != 0x00 || ring_byte_back(ring, 2) != 0x30 || ring_byte_back(ring, 3) != 0x00) return;
    std::fputs("\r\n### START OF COMPRESSED MESSAGE FOUND\r\n", stdout);
    restart(decoder);
    f.state = SkipTypeByte;
}

void block_header(MessageFramer& f, const PayloadRing& ring, LzhufDecoder& decoder, std::FILE* payload_file) {
    const uint8_t type = ring_byte_back(ring, 2);
    const uint8_t length = ring_byte_back(ring, 1);
    if (type == STX) {
        // Senders write a full 256-byte block's length as 0.
        f.block_left = length == 0 ? FULL_BLOCK : length;
        std::printf("\r\n\r\n### LOGICAL PACKET FOUND, LEN %d\r\n", static_cast<int>(f.block_left));
        std::fputs("\r\n### LZHUF OUTPUT (on the fly):\r\n\r\n", stdout);
        f.state = BlockData;
    } else if (type == EOT) {
        // The last characters may still sit in the decoder's pending bits.
        finish(decoder, payload_file, f.uncompressed_len);
        announce(payload_file, MESSAGE_COMPLETED);
        f.state = SeekHeader;
    } else {
        announce(payload_file, PACKET_NOT_FOUND);
        f.state = SeekHeader;
    }
}

// The end of a message: the count has reached the announced length less 2.
void complete_by_count(MessageFramer& f, LzhufDecoder& decoder, MonitorParser& parser, std::FILE* payload_file) {
    f.state = SeekHeader;
    restart(parser);
    finish(decoder, payload_file, f.uncompressed_len);
    restart(decoder);
    announce(payload_file, MESSAGE_COMPLETED);
}

// The sender's length counts characters the byte-fed decoder may still hold
// back, hence the margin of 2; 64 bits keep any length safe.
int64_t completion_count(const MessageFramer& f) { return static_cast<int64_t>(f.uncompressed_len) - 2; }

}  // namespace

void feed_byte(MessageFramer& framer, const PayloadRing& ring, LzhufDecoder& decoder,
               MonitorParser& parser, std::FILE* payload_file, uint8_t b) {
    switch (framer.state) {
    case SeekHeader:
        seek_header(framer, ring, payload_file);
        return;
    case SeekStart:
        seek_start(framer, ring, decoder);
        return;
    case SkipTypeByte:
        framer.state = BlockHeader;
        return;
    case BlockHeader:
        block_header(framer, ring, decoder, payload_file);
        return;
    case BlockData:
        feed_block_bytes(framer, decoder, parser, payload_file, &b, 1);
        return;
    }
}

int32_t feed_block_bytes(MessageFramer& framer, LzhufDecoder& decoder, MonitorParser& parser,
                         std::FILE* payload_file, const uint8_t* bytes, int32_t count) {
    if (framer.state != BlockData || framer.block_left == 0) return 0;
    if (count > framer.block_left) count = framer.block_left;
    int32_t used = 0;
    const int32_t produced = feed_bytes(decoder, bytes, count, payload_file, completion_count(framer), used);
    framer.block_left = static_cast<uint16_t>(framer.block_left - used);
    if (produced >= completion_count(framer)) {
        complete_by_count(framer, decoder, parser, payload_file);
    } else if (framer.block_left == 0) {
        framer.state = SkipTypeByte;
    }
    return used;
}

void restart(MessageFramer& framer) { framer.state = SeekHeader; }
