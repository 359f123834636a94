// Capture builder (test support): monitor text as the modem prints it,
// carrying compressed-message transfers, for tests, sample captures and users'
// own experiments.
//
// What a transfer looks like in the payload bytes:
//   "FC EM <identifier> <length> <compressed length> 0" CR
//   SOH, header length byte, title, NUL, "0", NUL
//   blocks: STX, length byte (256 written as 0), data bytes   (the compressed
//           message from lzhuf_compress)
//   EOT, checksum (two's complement of the sum of all block data bytes)
//
// How the modem prints a report (every line ends CR LF):
//   a header line carrying "TYPE: t" and "LEN: n"
//   "###PAYLOAD2:"
//   the payload: text as it is (types 0..7), or for type 8 two upper-case hex
//   digits per byte with a blank between bytes
//   "###PAYLOAD_END"
//
// Placement rules the builder keeps, so that the parser and framer see what
// is meant:
//   - a transfer's bytes go only into binary reports of its own, so the text
//     reports never land inside a message (their bytes reach the framer too);
//   - the header line and the message body go into separate reports, with
//     room for a reply between them, as in a real exchange;
//   - every LEN matches its payload, and each payload is followed by CR LF,
//     whose first character only moves the parser back to header scanning;
//   - noise lines and the built-in report texts hold no keyword.
// What the builder cannot enforce: the framer recognises a header 24 bytes
// after its F and looks for 0x00 0x30 0x00 only after that, so a header line
// plus title that is shorter than about 25 bytes misses its message.
//
// Interface:
//   CaptureBuilder + builder_start(b, seed), then in any order:
//     add_noise_line(b[, line])     a line outside any report
//     add_text_report(b, text, type)
//     add_binary_report(b, data, type)     one report
//     add_binary_reports(b, data)          spread over reports of random size
//     add_message(b, msg, options)        header line, reply, body
//     add_message_group(b, msgs, options) every header line first, then
//                                         each reply and body in turn
//   build_capture(messages, options)  a whole capture: a first noise line,
//       then each message (or group, see group_with_next) with noise and
//       text reports around it.
//   transfer_header(msg), transfer_body(msg)   the transfer's payload bytes
//   compressed_message(msg)   the compressed message as it is sent, damage
//       (flip_at, stream_length) included
//
// Besides the text, the builder records what the parser must extract from
// it: every payload byte in order, and the text payloads it writes to the
// payload file.  A text report must not contain "###PAYLOAD_END", which
// would end it early.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Deterministic on every platform, unlike the standard distributions.
struct CaptureRng {
    uint64_t state;
};
uint64_t rng_next(CaptureRng& rng);
// A number from low to high, both included.
int64_t rng_between(CaptureRng& rng, int64_t low, int64_t high);

struct TransferMessage {
    std::string text{};           // compressed with lzhuf_compress
    std::string identifier{};     // empty: 12 random letters and digits (set it to know the header's size)
    std::string title = "Test message";
    std::string length_field{};   // the header's length; empty: the text's size
    int32_t block_size = 250;     // data bytes per block, 1..256
    bool eot = true;              // close with EOT and the checksum
    int64_t cut_at = -1;          // send only this many bytes of the transfer (header line included)
    int32_t bad_type_block = -1;  // this block (from 0) gets bad_type_byte instead of STX
    uint8_t bad_type_byte = 0x03;
    // Damage on the way, as monitoring meets it:
    int32_t lost_block = -1;      // this block (from 0) never arrives
    int64_t flip_at = -1;         // this byte of the compressed message has its low bit flipped
    int64_t stream_length = -1;   // the stream's own length field says this (its CRC is the sender's)
    bool group_with_next = false; // build_capture announces the next message together with this one
    bool announced = true;        // false: the transfer is sent without its "FC EM" line
};

struct CaptureOptions {
    uint64_t seed = 1;
    int32_t min_report = 16;       // payload bytes per binary report
    int32_t max_report = 128;
    int32_t max_noise_lines = 2;   // per gap, a random number up to this
    int32_t max_text_reports = 2;  // per gap, a random number up to this
    bool reply_report = true;      // a text report between header line and message body
    bool header_as_text = false;   // the header line as a text report of type 0
    std::vector<std::string> report_texts;  // texts for the text reports; empty: built-in ones
};

struct CaptureBuilder {
    CaptureRng rng;
    std::string text;                 // the monitor text so far
    std::vector<uint8_t> payload;     // payload bytes the parser extracts from it, in order
    std::string text_payloads;        // what the parser writes to the payload file
    int32_t min_report = 16;
    int32_t max_report = 128;
    uint32_t report_count = 0;        // numbers the header lines
};

void builder_start(CaptureBuilder& b, uint64_t seed);

void add_noise_line(CaptureBuilder& b);
void add_noise_line(CaptureBuilder& b, const std::string& line);  // CR LF is appended
void add_text_report(CaptureBuilder& b, const std::string& text, uint32_t type = 0);
void add_binary_report(CaptureBuilder& b, const std::vector<uint8_t>& data, uint32_t type = 8);
void add_binary_reports(CaptureBuilder& b, const std::vector<uint8_t>& data);
void add_message(CaptureBuilder& b, const TransferMessage& msg, const CaptureOptions& options);
void add_message_group(CaptureBuilder& b, const std::vector<TransferMessage>& msgs, const CaptureOptions& options);

std::vector<uint8_t> transfer_header(const TransferMessage& msg);
std::vector<uint8_t> transfer_body(const TransferMessage& msg);
std::vector<uint8_t> compressed_message(const TransferMessage& msg);

CaptureBuilder build_capture(const std::vector<TransferMessage>& messages, const CaptureOptions& options);
