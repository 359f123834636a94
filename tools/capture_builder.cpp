#include "tools/capture_builder.h"

#include <algorithm>
#include <cstdio>

#include "tools/lzhuf_encoder.h"

namespace {

constexpr uint8_t SOH = 0x01;
constexpr uint8_t STX = 0x02;
constexpr uint8_t EOT = 0x04;

// Lines a monitor might print between reports; none holds a keyword.
const char* const NOISE_LINES[] = {
    "MON carrier detected, level -12 dB",
    "MON link up, 2300 baud",
    "MON frame dropped: bad check",
    "MON idle",
    "*** channel busy ***",
    "MON retry 2 of 5",
};

// Short texts such as stations exchange around a transfer.
const char* const REPORT_TEXTS[] = {
    "READY\r",
    "ACK 1\r",
    "Hello from the other end.\r",
    "Good signal here, go ahead\r",
    "; queue: 2 messages waiting\r",
    "BYE\r",
};

size_t pick(CaptureRng& rng, size_t count) {
    return static_cast<size_t>(rng_between(rng, 0, static_cast<int64_t>(count) - 1));
}

std::string timestamp(CaptureBuilder& b) {
    char text[32];
    const uint32_t seconds = b.report_count * 3u;
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", seconds / 3600u % 24u, seconds / 60u % 60u, seconds % 60u);
    return text;
}

// The line that opens a report: the keywords among other fields, as monitors
// print them.
void report_header(CaptureBuilder& b, uint32_t type, size_t length) {
    ++b.report_count;
    char line[128];
    std::snprintf(line, sizeof line, "MON %s RX #%u TYPE: %u LEN: %zu Q: %d%%\r\n###PAYLOAD2:\r\n",
                  timestamp(b).c_str(), b.report_count, type, length,
                  static_cast<int>(rng_between(b.rng, 60, 100)));
    b.text += line;
}

void report_end(CaptureBuilder& b) { b.text += "\r\n###PAYLOAD_END\r\n"; }

// The compressed message split into blocks, closed by EOT and the checksum.
std::vector<uint8_t> body_from(const TransferMessage& msg, const std::vector<uint8_t>& compressed) {
    std::vector<uint8_t> body;
    body.push_back(SOH);
    body.push_back(static_cast<uint8_t>(msg.title.size() + 3));  // title, NUL, "0", NUL
    for (const char c : msg.title) body.push_back(static_cast<uint8_t>(c));
    body.push_back(0x00);
    body.push_back('0');
    body.push_back(0x00);
    const size_t block = static_cast<size_t>(std::clamp(msg.block_size, 1, 256));
    uint32_t sum = 0;
    int32_t index = 0;
    for (size_t at = 0; at < compressed.size(); at += block, ++index) {
        const size_t n = std::min(block, compressed.size() - at);
        if (index == msg.lost_block) continue;
        body.push_back(index == msg.bad_type_block ? msg.bad_type_byte : STX);
        body.push_back(static_cast<uint8_t>(n));  // 256 becomes 0
        for (size_t i = 0; i < n; ++i) {
            body.push_back(compressed[at + i]);
            sum += compressed[at + i];
        }
    }
    if (msg.eot) {
        body.push_back(EOT);
        body.push_back(static_cast<uint8_t>(0u - sum));
    }
    return body;
}

std::vector<uint8_t> header_from(const TransferMessage& msg, size_t compressed_size) {
    const std::string length = msg.length_field.empty() ? std::to_string(msg.text.size()) : msg.length_field;
    const std::string line =
        "FC EM " + msg.identifier + " " + length + " " + std::to_string(compressed_size) + " 0\r";
    return std::vector<uint8_t>(line.begin(), line.end());
}

std::vector<uint8_t> compress(const TransferMessage& msg) { return compressed_message(msg); }

std::string random_identifier(CaptureRng& rng) {
    static const char ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string id;
    for (int i = 0; i < 12; ++i) id += ALPHABET[pick(rng, 36)];
    return id;
}

void add_gap(CaptureBuilder& b, const CaptureOptions& options) {
    // Noise lines (false) and text reports (true) in a random order.
    std::vector<bool> kinds(static_cast<size_t>(rng_between(b.rng, 0, std::max(0, options.max_noise_lines))), false);
    kinds.resize(kinds.size() + static_cast<size_t>(rng_between(b.rng, 0, std::max(0, options.max_text_reports))), true);
    for (size_t i = kinds.size(); i > 1; --i) {
        const auto j = static_cast<size_t>(rng_between(b.rng, 0, static_cast<int64_t>(i) - 1));
        const bool kind = kinds[i - 1];
        kinds[i - 1] = kinds[j];
        kinds[j] = kind;
    }
    for (const bool report : kinds) {
        if (!report) {
            add_noise_line(b);
            continue;
        }
        const auto type = static_cast<uint32_t>(rng_between(b.rng, 0, 7));
        if (options.report_texts.empty()) {
            add_text_report(b, REPORT_TEXTS[pick(b.rng, std::size(REPORT_TEXTS))], type);
        } else {
            add_text_report(b, options.report_texts[pick(b.rng, options.report_texts.size())], type);
        }
    }
}

}  // namespace

uint64_t rng_next(CaptureRng& rng) {
    // splitmix64
    uint64_t z = (rng.state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

int64_t rng_between(CaptureRng& rng, int64_t low, int64_t high) {
    if (high <= low) return low;
    const uint64_t span = static_cast<uint64_t>(high - low) + 1u;
    return low + static_cast<int64_t>(rng_next(rng) % span);
}

void builder_start(CaptureBuilder& b, uint64_t seed) {
    b = CaptureBuilder{};
    b.rng.state = seed;
}

void add_noise_line(CaptureBuilder& b) {
    add_noise_line(b, NOISE_LINES[pick(b.rng, std::size(NOISE_LINES))]);
}

void add_noise_line(CaptureBuilder& b, const std::string& line) { b.text += line + "\r\n"; }

void add_text_report(CaptureBuilder& b, const std::string& text, uint32_t type) {
    report_header(b, type, text.size());
    b.text += text;
    report_end(b);
    b.payload.insert(b.payload.end(), text.begin(), text.end());
    b.text_payloads += text;
}

void add_binary_report(CaptureBuilder& b, const std::vector<uint8_t>& data, uint32_t type) {
    static const char DIGITS[] = "0123456789ABCDEF";
    report_header(b, type, data.size());
    for (size_t i = 0; i < data.size(); ++i) {
        if (i > 0) b.text += ' ';
        b.text += DIGITS[data[i] >> 4];
        b.text += DIGITS[data[i] & 0x0F];
    }
    report_end(b);
    b.payload.insert(b.payload.end(), data.begin(), data.end());
}

void add_binary_reports(CaptureBuilder& b, const std::vector<uint8_t>& data) {
    size_t at = 0;
    while (at < data.size()) {
        const auto want = rng_between(b.rng, std::max(1, b.min_report), std::max(b.min_report, b.max_report));
        const size_t n = std::min(static_cast<size_t>(want), data.size() - at);
        add_binary_report(b, std::vector<uint8_t>(data.begin() + static_cast<ptrdiff_t>(at),
                                                  data.begin() + static_cast<ptrdiff_t>(at + n)));
        at += n;
    }
}

std::vector<uint8_t> compressed_message(const TransferMessage& msg) {
    std::vector<uint8_t> c = lzhuf_compress(reinterpret_cast<const uint8_t*>(msg.text.data()), msg.text.size());
    if (msg.stream_length >= 0) {
        for (size_t i = 0; i < 4; ++i) c[2 + i] = static_cast<uint8_t>(static_cast<uint64_t>(msg.stream_length) >> (8 * i));
    }
    if (msg.flip_at >= 0 && static_cast<size_t>(msg.flip_at) < c.size()) c[static_cast<size_t>(msg.flip_at)] ^= 1u;
    return c;
}

std::vector<uint8_t> transfer_header(const TransferMessage& msg) { return header_from(msg, compress(msg).size()); }

std::vector<uint8_t> transfer_body(const TransferMessage& msg) { return body_from(msg, compress(msg)); }

void add_message(CaptureBuilder& b, const TransferMessage& msg, const CaptureOptions& options) {
    add_message_group(b, {msg}, options);
}

void add_message_group(CaptureBuilder& b, const std::vector<TransferMessage>& msgs, const CaptureOptions& options) {
    std::vector<std::vector<uint8_t>> bodies;
    for (const TransferMessage& msg : msgs) {
        TransferMessage m = msg;
        if (m.identifier.empty()) m.identifier = random_identifier(b.rng);
        const std::vector<uint8_t> compressed = compress(m);
        std::vector<uint8_t> header = header_from(m, compressed.size());
        std::vector<uint8_t> body = body_from(m, compressed);

        size_t room = m.cut_at < 0 ? SIZE_MAX : static_cast<size_t>(m.cut_at);
        header.resize(std::min(header.size(), room));
        room -= header.size();
        body.resize(std::min(body.size(), room));
        if (!header.empty() && m.announced) {
            if (options.header_as_text) {
                add_text_report(b, std::string(header.begin(), header.end()), 0);
            } else {
                add_binary_reports(b, header);
            }
        }
        bodies.push_back(body);
    }
    for (const std::vector<uint8_t>& body : bodies) {
        if (body.empty()) continue;
        if (options.reply_report) add_text_report(b, "READY\r", static_cast<uint32_t>(rng_between(b.rng, 0, 7)));
        add_binary_reports(b, body);
    }
}

CaptureBuilder build_capture(const std::vector<TransferMessage>& messages, const CaptureOptions& options) {
    CaptureBuilder b;
    builder_start(b, options.seed);
    b.min_report = options.min_report;
    b.max_report = options.max_report;
    // The parser's first character is taken unexamined; let it be a plain line.
    add_noise_line(b, "MON monitor on");
    for (size_t i = 0; i < messages.size();) {
        std::vector<TransferMessage> group{messages[i++]};
        while (group.back().group_with_next && i < messages.size()) group.push_back(messages[i++]);
        add_gap(b, options);
        add_message_group(b, group, options);
    }
    add_gap(b, options);
    return b;
}
