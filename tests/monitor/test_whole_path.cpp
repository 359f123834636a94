#include <gtest/gtest.h>

#include "monitor_test_support.h"
#include "tests/support/sample_text.h"
#include "tools/capture_builder.h"

// A capture-file run in process: the whole capture through the parser, then
// the framer restarted and the ring drained.
TEST(WholePath, CapturesGiveBackTheirMessages) {
    CaptureRng rng{11};
    int whole = 0;
    for (uint64_t seed = 1; seed <= 6; ++seed) {
        std::vector<TransferMessage> msgs(8);
        for (TransferMessage& msg : msgs) {
            msg.text = sample_text(rng_next(rng), static_cast<size_t>(rng_between(rng, 3, 3000)));
            msg.identifier = std::string(static_cast<size_t>(rng_between(rng, 1, 12)), 'M');
            msg.block_size = static_cast<int32_t>(rng_between(rng, 0, 3) == 0 ? 256 : rng_between(rng, 1, 255));
        }
        CaptureOptions options;
        options.seed = seed;
        options.header_as_text = seed % 3 == 0;
        options.reply_report = seed % 2 == 0;
        const CaptureBuilder b = build_capture(msgs, options);

        auto m = make_machines();
        StdoutCapture quiet;
        feed_text(*m, b.text);
        const std::string extracted(m->ring.bytes, m->ring.bytes + m->ring.write_index);
        restart(m->framer);
        drain_payload_ring(m->ring, m->framer, m->decoder, m->payload_file);
        quiet.stop();
        ASSERT_EQ(extracted, std::string(b.payload.begin(), b.payload.end())) << "seed " << seed;
        const std::string file = m->payload.contents();
        ASSERT_TRUE(is_prefix(b.text_payloads, file));  // text payloads first, then the messages
        const std::vector<std::string> decoded = messages_in(file, b.text_payloads.size());
        ASSERT_EQ(decoded.size(), msgs.size());
        for (size_t i = 0; i < msgs.size(); ++i) {
            // Only a completion by count can leave out the last characters:
            // those whose bits follow the byte that reached the count.
            EXPECT_GE(decoded[i].size(), msgs[i].text.size() - 2) << "seed " << seed << " message " << i;
            EXPECT_TRUE(is_prefix(decoded[i], msgs[i].text)) << "seed " << seed << " message " << i;
            whole += decoded[i] == msgs[i].text;
        }
    }
    EXPECT_GE(whole, 40);  // of 48: most messages come out whole
}

TEST(WholePath, SplitsDoNotChangeWhatTheParserExtracts) {
    CaptureRng rng{3};
    std::vector<TransferMessage> msgs(3);
    for (TransferMessage& msg : msgs) msg.text = sample_text(rng_next(rng), 2000);
    CaptureOptions options;
    options.max_text_reports = 4;
    const CaptureBuilder b = build_capture(msgs, options);
    std::string console;  // of one character at a time
    {
        StdoutCapture out;
        feed_text(*make_machines(), b.text);
        console = out.stop();
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
        ASSERT_EQ(m->payload.contents(), b.text_payloads);
        ASSERT_EQ(out.stop(), console);
    }
}
