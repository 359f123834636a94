#include <gtest/gtest.h>

#include "monitor_test_support.h"
#include "tests/support/message_check.h"
#include "tools/lzhuf_encoder.h"

namespace {

const std::string OUTPUT_LINE = "\r\n### LZHUF OUTPUT (on the fly):\r\n\r\n";
const std::string TEXT = "Wind north 12 knots, sea calm. Wind north 12 knots, sea calm. All well aboard.\r\n";

std::string packet_line(size_t n) { return "\r\n\r\n### LOGICAL PACKET FOUND, LEN " + std::to_string(n) + "\r\n"; }

std::vector<uint8_t> bytes_of(const std::string& s) { return {s.begin(), s.end()}; }

std::string header_line(size_t length) { return "FC EM ABCDEFGHIJKL " + std::to_string(length) + " 1 0\r"; }

std::vector<uint8_t> compressed(const std::string& text) {
    return lzhuf_compress(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// The header line for `length`, SOH ... 0x00 0x30 0x00, blocks of the given
// sizes (the last size repeats; 256 is written as 0), EOT and a checksum.
std::vector<uint8_t> transfer(size_t length, const std::vector<uint8_t>& data, const std::vector<size_t>& sizes) {
    std::vector<uint8_t> out = bytes_of(header_line(length));
    out.insert(out.end(), {0x01, 0x05, 'T', 'i', 0x00, 0x30, 0x00});
    for (size_t k = 0, at = 0; at < data.size(); ++k) {
        const size_t n = std::min(sizes[std::min(k, sizes.size() - 1)], data.size() - at);
        out.insert(out.end(), {0x02, static_cast<uint8_t>(n)});
        out.insert(out.end(), data.begin() + static_cast<ptrdiff_t>(at), data.begin() + static_cast<ptrdiff_t>(at + n));
        at += n;
    }
    out.insert(out.end(), {0x04, 0x00});
    return out;
}

struct Framed {
    std::string console;
    std::string file;
};

// Payload bytes into the ring, then drained through the framer.
Framed frame(Machines& m, const std::vector<uint8_t>& payload) {
    StdoutCapture out;
    for (const uint8_t b : payload) ring_append(m.ring, b);
    drain_payload_ring(m.ring, m.framer, m.decoder, m.payload_file);
    return {out.stop(), m.payload.contents()};
}

}  // namespace

TEST(FramerHeader, RecognisedOnThe24thByteAfterFAndNotBefore) {
    auto m = make_machines();
    // Start bytes and blocks before any header are ignored.
    EXPECT_EQ(frame(*m, {0x00, 0x30, 0x00, 0x02, 0x05, 'a', 'b'}).console, "");
    const std::vector<uint8_t> line = bytes_of("xxFC EM ABCDEFGHIJKL 2048 900 0\r");
    frame(*m, {line.begin(), line.begin() + 2 + 24});
    EXPECT_EQ(m->framer.state, SeekHeader);
    const Framed f = frame(*m, {line[26]});
    EXPECT_EQ(m->framer.state, SeekStart);
    EXPECT_EQ(f.console, HEADER_FOUND + "### UNCOMPRESSED LEN OF MESSAGE: 2048\r\n");
    EXPECT_EQ(f.file, HEADER_FOUND);
}

TEST(FramerHeader, LengthFollowsTheFirstBlankAfterTheIdentifier) {
    auto m = make_machines();
    const auto header = [](size_t id_length) { return bytes_of("FC EM " + std::string(id_length, 'I') + " 2048 1 0 and more text\r"); };
    EXPECT_EQ(frame(*m, header(18)).console, HEADER_FOUND);  // no blank in reach, no length known
    // 17: only the "2" fits in the 25 bytes; 18: the last length stays and is shown.
    const std::pair<int, int32_t> cases[] = {{12, 2048}, {1, 2048}, {17, 2}, {18, 2}};
    for (const auto& [id_length, expected] : cases) {
        restart(m->framer);
        const Framed f = frame(*m, header(static_cast<size_t>(id_length)));
        EXPECT_EQ(m->framer.uncompressed_len, expected) << id_length;
        EXPECT_NE(f.console.find("MESSAGE: " + std::to_string(expected) + "\r\n"), std::string::npos) << id_length;
    }
}

TEST(FramerBlocks, VaryingLengthsIncludingFullBlocks) {
    std::string text;
    for (uint32_t i = 0; text.size() < 6000; ++i) text += std::to_string(i * 2654435761u % 100000) + (i % 7 ? " " : "\r\n");
    for (const auto& sizes : {std::vector<size_t>{255, 1, 256, 7, 100}, std::vector<size_t>{256}}) {
        auto m = make_machines();
        const std::vector<uint8_t> data = compressed(text);
        const Framed f = frame(*m, transfer(text.size(), data, sizes));
        EXPECT_EQ(messages_in(f.file).at(0), text);
        size_t at = 0;  // every block announced in order, 256 shown as 256
        for (size_t k = 0, left = data.size(); left > 0; ++k) {
            const size_t n = std::min(sizes[std::min(k, sizes.size() - 1)], left);
            at = f.console.find(packet_line(n) + OUTPUT_LINE, at);
            ASSERT_NE(at, std::string::npos) << "block " << k;
            left -= n;
        }
    }
}

std::string ok_line(const std::vector<uint8_t>& data, size_t length) { return check_line(data, length); }

// Whichever way an intact message ends, its text comes out to the last
// character, the check says OK, and the parser is left alone.
TEST(FramerCompletion, IntactMessagesEndWholeWithOkByEotOrByCount) {
    std::string long_text;
    for (int i = 0; i < 20; ++i) long_text += TEXT;
    const struct {
        std::string text;
        size_t block;
    } cases[] = {
        {"abcdefghij abcdefghij abcdefghij abcdefghij abcdefghij", 10},  // a match at the very end
        {long_text, 250},
        {"A", 250},
        {"", 250},  // complete on its sixth byte
    };
    for (const auto& k : cases) {
        auto m = make_machines();
        m->parser.state = InPayload;
        const std::vector<uint8_t> data = compressed(k.text);
        const Framed f = frame(*m, transfer(k.text.size(), data, {k.block}));
        EXPECT_EQ(f.file, HEADER_FOUND + k.text + COMPLETED + ok_line(data, k.text.size())) << k.text.size();
        EXPECT_EQ(m->parser.state, InPayload);
        EXPECT_EQ(m->framer.state, SeekHeader);
    }
}

// The EOT may come in a later read than the last block; the result is the
// same as one read.
TEST(FramerCompletion, EotInALaterDrainThanTheLastBlock) {
    const std::vector<uint8_t> data = compressed(TEXT);
    const std::vector<uint8_t> whole = transfer(TEXT.size(), data, {250});
    auto one = make_machines();
    const Framed expected = frame(*one, whole);
    auto split = make_machines();
    frame(*split, {whole.begin(), whole.end() - 2});
    EXPECT_EQ(split->framer.state, SkipTypeByte);
    EXPECT_EQ(frame(*split, {whole.end() - 2, whole.end()}).file, expected.file);
    EXPECT_EQ(expected.file, HEADER_FOUND + TEXT + COMPLETED + ok_line(data, TEXT.size()));
}

// Monitoring misses and mangles frames: a flipped bit anywhere in the
// stream, its header included, must never pass as OK.
TEST(FramerCheck, AFlippedBitAnywhereIsDamaged) {
    const std::string text = TEXT + TEXT;
    const std::vector<uint8_t> data = compressed(text);
    for (size_t at = 0; at < data.size(); ++at) {
        std::vector<uint8_t> broken = data;
        broken[at] ^= static_cast<uint8_t>(1u << (at % 8));
        auto m = make_machines();
        const Framed f = frame(*m, transfer(text.size(), broken, {250}));
        EXPECT_NE(f.file.find("### MESSAGE CHECK: DAMAGED ("), std::string::npos) << at;
        EXPECT_EQ(f.file.find("OK ("), std::string::npos) << at;
    }
}

TEST(FramerCompletion, BadTypeByteRecoversWhatArrivedAndSaysDamaged) {
    std::string text;
    for (int i = 0; i < 20; ++i) text += TEXT;
    auto m = make_machines();
    const std::vector<uint8_t> data = compressed(text);
    std::vector<uint8_t> payload = transfer(1620, data, {40});
    payload[header_line(1620).size() + 7 + 42] = 0x03;  // the second block's STX
    const Framed f = frame(*m, payload);
    EXPECT_EQ(m->framer.state, SeekHeader);
    const std::string got = messages_in(f.file).at(0);
    EXPECT_TRUE(is_prefix(got, text) && got.size() > 40u);
    const std::string tail = NOT_FOUND + check_line({data.begin(), data.begin() + 40}, got.size());
    EXPECT_EQ(f.file.substr(f.file.size() - tail.size()), tail);
    EXPECT_EQ(f.console.find(packet_line(40), f.console.find(packet_line(40)) + 1), std::string::npos);
}

// Headers that arrive while a transfer is awaited are remembered, 16 at
// most; restart forgets them.
TEST(FramerHeader, AtMostSixteenAnnouncementsAreRemembered) {
    auto m = make_machines();
    std::vector<uint8_t> lines;
    for (size_t i = 0; i < 20; ++i) {
        const std::vector<uint8_t> line = bytes_of(header_line(100 + i));
        lines.insert(lines.end(), line.begin(), line.end());
    }
    frame(*m, lines);
    EXPECT_EQ(m->framer.state, SeekStart);
    EXPECT_EQ(m->framer.remembered_count, MAX_REMEMBERED_HEADERS);
    EXPECT_EQ(m->framer.remembered[0].length, 101);
    restart(m->framer);
    EXPECT_EQ(m->framer.remembered_count, 0);
}

TEST(PayloadRing, LookBackAcrossIndexZeroAndTheWrap) {
    auto m = make_machines();
    m->ring.write_index = PAYLOAD_RING_SIZE - 2;
    for (const uint8_t b : {uint8_t{1}, uint8_t{2}, uint8_t{3}}) ring_append(m->ring, b);
    m->ring.read_index = 1;
    EXPECT_EQ(m->ring.write_index, 1);
    EXPECT_EQ(ring_byte_back(m->ring, 1), 3);
    EXPECT_EQ(ring_byte_back(m->ring, 3), 1);
    EXPECT_EQ(ring_byte_back(m->ring, 4), 0);  // never written

    // A header that straddles the wrap is still found.
    m->ring.write_index = m->ring.read_index = PAYLOAD_RING_SIZE - 10;
    frame(*m, bytes_of("FC EM ABCDEFGHIJKL 2048 900 0\r"));
    EXPECT_EQ(m->framer.uncompressed_len, 2048);
    EXPECT_EQ(m->ring.read_index, 20);
}
