// The live run hands the parser whatever each read brought and drains the
// ring after every read; a capture-file run parses everything first and
// drains once.  How the input is split must change nothing.
#include <gtest/gtest.h>

#include <regex>

#include "tests/monitor/monitor_test_support.h"
#include "tests/support/message_check.h"
#include "tests/support/sample_text.h"
#include "tools/capture_builder.h"

namespace {

// Messages that end every way a transfer can: by count, by EOT in a later
// read than the last block, without EOT, in full blocks, as a group, cut.
// The separator after a hexadecimal pair is never looked at: tabs, CRs, '#'
// or a hex digit's neighbour 'G' there must read as the blank sent.
CaptureBuilder varied_capture(CaptureRng& rng) {
    std::vector<TransferMessage> msgs(6);
    for (TransferMessage& msg : msgs) msg.text = sample_text(rng_next(rng), 1500);
    msgs[1].block_size = 256;
    msgs[2].eot = false;
    msgs[3].group_with_next = true;
    msgs[4].block_size = 1;
    msgs[5].cut_at = 400;
    CaptureOptions options;
    options.max_text_reports = 4;
    CaptureBuilder b = build_capture(msgs, options);
    static const std::regex hex_line("###PAYLOAD2:\r\n((?:[0-9A-F]{2} )*[0-9A-F]{2})\r\n");
    const std::string plain = b.text;
    size_t k = 0;
    for (std::sregex_iterator it(plain.begin(), plain.end(), hex_line), end; it != end; ++it) {
        for (auto i = it->position(1) + 2; i < it->position(1) + it->length(1); i += 3)
            b.text[static_cast<size_t>(i)] = "\t-z#G\r_~ "[k++ % 9];
    }
    EXPECT_GT(k, 1000u) << "the capture must carry many separators";
    return b;
}

TEST(WholePath, ParserExtractsTheSameHoweverTheTextIsSplit) {
    CaptureRng rng{3};
    const CaptureBuilder b = varied_capture(rng);
    std::string console;  // of round 0: one character at a time, in pieces
    for (int round = 0; round < 40; ++round) {
        auto m = make_machines();
        std::string got;
        StdoutCapture out;
        for (size_t at = 0, n = 0; at < b.text.size(); at += n) {
            n = std::min(b.text.size() - at, static_cast<size_t>(rng_between(rng, 1, round % 2 ? 16 : 5000)));
            // A heap block of its own: the sanitizers see a read past it.
            const std::vector<uint8_t> piece(b.text.begin() + static_cast<std::ptrdiff_t>(at),
                                             b.text.begin() + static_cast<std::ptrdiff_t>(at + n));
            if (round % 3 == 0) feed_text(*m, b.text.substr(at, n));
            else feed_chars(m->parser, m->ring, m->output, piece.data(), static_cast<int32_t>(n));
            got += take_unread(*m);
        }
        ASSERT_EQ(got, std::string(b.payload.begin(), b.payload.end())) << "round " << round;
        ASSERT_EQ(m->payload.contents(), b.text_payloads);
        if (round == 0) console = out.stop();
        ASSERT_EQ(out.stop(), console);
    }
}

TEST(WholePath, FramerDecodesTheSameHoweverTheDrainsAreSplit) {
    CaptureRng rng{5};
    const CaptureBuilder b = varied_capture(rng);
    auto once = make_machines();
    const std::string console = frame(*once, b.payload);
    const std::string file = once->payload.contents();
    // Five whole messages; the cut one, last in the capture, never ends.
    ASSERT_EQ(count_of(file, "### MESSAGE CHECK: OK"), 5u);
    for (int round = 0; round < 20; ++round) {
        auto m = make_machines();
        std::string got;
        for (size_t at = 0, n = 0; at < b.payload.size(); at += n) {
            n = std::min(b.payload.size() - at, static_cast<size_t>(rng_between(rng, 1, round % 2 ? 3 : 600)));
            got += frame(*m, b.payload.data() + at, n);
        }
        ASSERT_EQ(got, console) << "round " << round;
        ASSERT_EQ(m->payload.contents(), file) << "round " << round;
    }
}

}  // namespace
