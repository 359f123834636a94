#include <gtest/gtest.h>

#include "monitor_test_support.h"
#include "tools/capture_builder.h"

namespace {

const std::string HEADER_FOUND =
    "\r\n\r\n###====== <FC EM> HEADER FOUND, STARTING LZHUF DECOMPRESSION ======###\r\n";
const std::string COMPLETED = "\r\n\r\n###====== MESSAGE COMPLETED, DECOMPRESSION FINISHED ======###\r\n\r\n";
const std::string NOT_FOUND =
    "\r\n###====== STOPPING LZHUF DECOMPRESSION: LOGICAL PACKET NOT FOUND! ======###\r\n";

// Text with the repetition of real messages, so matches of every length occur.
std::string message_text(CaptureRng& rng, size_t size) {
    static const char* const WORDS[] = {"the ", "station ", "report ", "weather ", "is ", "fine ", "and ",
                                        "wind ", "from ", "north ", "at ", "12 ", "knots", ".\r\n", ", "};
    std::string text;
    while (text.size() < size) text += WORDS[rng_between(rng, 0, std::size(WORDS) - 1)];
    text.resize(size);
    return text;
}

// A capture-file run: the whole capture through the parser, then the framer
// restarted and the ring drained.  Returns the payload file.
std::string run_capture(Machines& m, const std::string& capture, std::string* extracted = nullptr) {
    StdoutCapture out;
    feed_text(m, capture);
    if (extracted) {
        for (int32_t i = m.ring.read_index; i != m.ring.write_index; i = (i + 1) % PAYLOAD_RING_SIZE)
            *extracted += static_cast<char>(m.ring.bytes[i]);
    }
    restart(m.framer);
    drain(m);
    return read_stream(m.payload_file);
}

// The decoded messages of a payload file, after the text payloads: what
// stands between each header line and the completion or stop line after it.
std::vector<std::string> messages_in(const std::string& file, size_t from) {
    std::vector<std::string> found;
    while ((from = file.find(HEADER_FOUND, from)) != std::string::npos) {
        from += HEADER_FOUND.size();
        size_t end = std::min(file.find(COMPLETED, from), file.find(NOT_FOUND, from));
        found.push_back(file.substr(from, end == std::string::npos ? std::string::npos : end - from));
        if (end == std::string::npos) break;
        from = end;
    }
    return found;
}

}  // namespace

TEST(WholePath, CapturesGiveBackTheirMessages) {
    CaptureRng rng{11};
    int whole = 0;
    int total = 0;
    for (uint64_t seed = 1; seed <= 6; ++seed) {
        std::vector<MessageSpec> specs(8);
        for (MessageSpec& spec : specs) {
            spec.text = message_text(rng, static_cast<size_t>(rng_between(rng, 3, 3000)));
            spec.identifier = std::string(static_cast<size_t>(rng_between(rng, 1, 12)), 'M');
            spec.block_size = static_cast<int32_t>(rng_between(rng, 0, 3) == 0 ? 256 : rng_between(rng, 1, 255));
        }
        CaptureOptions options;
        options.seed = seed;
        options.header_as_text = seed % 3 == 0;
        options.reply_report = seed % 2 == 0;
        const CaptureBuilder b = build_capture(specs, options);

        auto m = make_machines();
        std::string extracted;
        const std::string file = run_capture(*m, b.text, &extracted);
        ASSERT_EQ(extracted, std::string(b.payload.begin(), b.payload.end())) << "seed " << seed;
        ASSERT_EQ(file.compare(0, b.text_payloads.size(), b.text_payloads), 0);
        const std::vector<std::string> decoded = messages_in(file, b.text_payloads.size());
        ASSERT_EQ(decoded.size(), specs.size());
        for (size_t i = 0; i < specs.size(); ++i) {
            // Only a completion by count can leave out the last characters:
            // those whose bits follow the byte that reached the count.
            const std::string& text = specs[i].text;
            EXPECT_GE(decoded[i].size(), text.size() - 2) << "seed " << seed << " message " << i;
            EXPECT_EQ(text.compare(0, decoded[i].size(), decoded[i]), 0) << "seed " << seed << " message " << i;
            whole += decoded[i] == text;
            ++total;
        }
    }
    EXPECT_GE(whole * 10, total * 8);  // most messages come out whole
}

TEST(WholePath, BrokenTransfersDoNotHarmTheMessagesAfterThem) {
    CaptureRng rng{5};
    std::vector<MessageSpec> specs(5);
    for (MessageSpec& spec : specs) spec.text = message_text(rng, 1500);
    specs[0].bad_type_block = 1;
    specs[0].block_size = 100;
    specs[1].eot = false;  // what the decoder holds back is lost when the next byte is no block
    specs[2].identifier = std::string(18, 'L');  // no length in reach: the previous one (1500) stays
    specs[4].cut_at = 200;                        // the capture ends inside this message
    CaptureOptions options;
    options.max_text_reports = 0;  // nothing after the cut that could pass for block data
    const CaptureBuilder b = build_capture(specs, options);
    auto m = make_machines();
    const std::string file = run_capture(*m, b.text);
    const std::vector<std::string> decoded = messages_in(file, b.text_payloads.size());
    ASSERT_EQ(decoded.size(), 5u);
    EXPECT_NE(file.find(NOT_FOUND), std::string::npos);
    EXPECT_EQ(specs[0].text.compare(0, decoded[0].size(), decoded[0]), 0);
    EXPECT_LT(decoded[0].size(), specs[0].text.size() / 2);
    for (size_t i = 1; i < 5; ++i) EXPECT_EQ(specs[i].text.compare(0, decoded[i].size(), decoded[i]), 0) << i;
    EXPECT_EQ(file.find(NOT_FOUND, file.find(NOT_FOUND) + 1) != std::string::npos,
              decoded[1].size() < specs[1].text.size() - 2);
    for (size_t i = 2; i <= 3; ++i) EXPECT_GE(decoded[i].size(), specs[i].text.size() - 2) << i;
    EXPECT_LT(decoded[4].size(), specs[4].text.size());
    EXPECT_EQ(m->framer.state, BlockData);
}

TEST(WholePath, SplitsDoNotChangeWhatTheParserExtracts) {
    CaptureRng rng{3};
    std::vector<MessageSpec> specs(3);
    for (MessageSpec& spec : specs) spec.text = message_text(rng, 2000);
    CaptureOptions options;
    options.max_text_reports = 4;
    const CaptureBuilder b = build_capture(specs, options);
    const std::string expected(b.payload.begin(), b.payload.end());
    for (int round = 0; round < 40; ++round) {
        auto m = make_machines();
        std::string got;
        StdoutCapture out;
        for (size_t at = 0; at < b.text.size();) {
            const size_t n = static_cast<size_t>(rng_between(rng, 1, round % 2 ? 16 : 5000));
            const std::string chunk = b.text.substr(at, n);
            if (round % 3 == 0) {
                feed_text(*m, chunk);
            } else {
                feed_chars(m->parser, m->ring, m->payload_file, reinterpret_cast<const uint8_t*>(chunk.data()),
                           static_cast<int32_t>(chunk.size()));
            }
            got += take_unread(*m);
            at += n;
        }
        ASSERT_EQ(got, expected) << "round " << round;
        ASSERT_EQ(read_stream(m->payload_file), b.text_payloads);
    }
}
