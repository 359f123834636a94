#include <gtest/gtest.h>

#include "monitor_test_support.h"
#include "tools/capture_builder.h"

namespace {

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
    for (int32_t i = m.ring.read_index; extracted && i != m.ring.write_index; i = (i + 1) % PAYLOAD_RING_SIZE)
        *extracted += static_cast<char>(m.ring.bytes[i]);
    restart(m.framer);
    drain_payload_ring(m.ring, m.framer, m.decoder, m.parser, m.payload_file);
    return read_stream(m.payload_file);
}

bool is_prefix(const std::string& part, const std::string& whole) { return whole.compare(0, part.size(), part) == 0; }

}  // namespace

TEST(WholePath, CapturesGiveBackTheirMessages) {
    CaptureRng rng{11};
    int whole = 0;
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
        ASSERT_TRUE(is_prefix(b.text_payloads, file));  // text payloads first, then the messages
        const std::vector<std::string> decoded = messages_in(file, b.text_payloads.size());
        ASSERT_EQ(decoded.size(), specs.size());
        for (size_t i = 0; i < specs.size(); ++i) {
            // Only a completion by count can leave out the last characters:
            // those whose bits follow the byte that reached the count.
            EXPECT_GE(decoded[i].size(), specs[i].text.size() - 2) << "seed " << seed << " message " << i;
            EXPECT_TRUE(is_prefix(decoded[i], specs[i].text)) << "seed " << seed << " message " << i;
            whole += decoded[i] == specs[i].text;
        }
    }
    EXPECT_GE(whole, 40);  // of 48: most messages come out whole
}

TEST(WholePath, BrokenTransfersDoNotHarmTheMessagesAfterThem) {
    CaptureRng rng{5};
    std::vector<MessageSpec> specs(5);
    for (MessageSpec& spec : specs) spec.text = message_text(rng, 1500);
    specs[0].bad_type_block = 1;
    specs[0].block_size = 100;
    specs[1].eot = false;                        // ends when the next byte is no block type
    specs[2].identifier = std::string(18, 'L');  // no length in reach: the previous one stays
    specs[4].cut_at = 200;                       // the capture ends inside this message
    CaptureOptions options;
    options.max_text_reports = 0;  // nothing after the cut that could pass for block data
    const CaptureBuilder b = build_capture(specs, options);
    auto m = make_machines();
    const std::vector<std::string> decoded = messages_in(run_capture(*m, b.text), b.text_payloads.size());
    ASSERT_EQ(decoded.size(), 5u);
    for (size_t i = 0; i < 5; ++i) EXPECT_TRUE(is_prefix(decoded[i], specs[i].text)) << i;
    EXPECT_LT(decoded[0].size(), 1000u);
    EXPECT_GE(decoded[2].size(), 1498u);
    EXPECT_GE(decoded[3].size(), 1498u);
    EXPECT_LT(decoded[4].size(), 1500u);
    EXPECT_EQ(m->framer.state, BlockData);
}

TEST(WholePath, SplitsDoNotChangeWhatTheParserExtracts) {
    CaptureRng rng{3};
    std::vector<MessageSpec> specs(3);
    for (MessageSpec& spec : specs) spec.text = message_text(rng, 2000);
    CaptureOptions options;
    options.max_text_reports = 4;
    const CaptureBuilder b = build_capture(specs, options);
    std::string console;  // of one character at a time
    {
        StdoutCapture out;
        feed_text(*make_machines(), b.text);
        console = out.text();
    }
    for (int round = 0; round < 40; ++round) {
        auto m = make_machines();
        std::string got;
        StdoutCapture out;
        for (size_t at = 0, n = 0; at < b.text.size(); at += n) {
            n = std::min(b.text.size() - at, static_cast<size_t>(rng_between(rng, 1, round % 2 ? 16 : 5000)));
            if (round % 3 == 0) {
                feed_text(*m, b.text.substr(at, n));
            } else {
                feed_chars(m->parser, m->ring, m->payload_file, reinterpret_cast<const uint8_t*>(b.text.data()) + at,
                           static_cast<int32_t>(n));
            }
            got += take_unread(*m);
        }
        ASSERT_EQ(got, std::string(b.payload.begin(), b.payload.end())) << "round " << round;
        ASSERT_EQ(read_stream(m->payload_file), b.text_payloads);
        ASSERT_EQ(out.text(), console);
    }
}
