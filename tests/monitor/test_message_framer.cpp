// The message framer where whole captures cannot look: the byte on which a
// header or a start is recognised, how a transfer that gets no more bytes
// ends, the check of every byte of a stream, and drains split anywhere.
#include <gtest/gtest.h>

#include "tests/monitor/monitor_test_support.h"
#include "tests/support/message_check.h"
#include "tests/support/sample_text.h"
#include "tools/capture_builder.h"

namespace {

const std::string START = "\r\n### START OF COMPRESSED MESSAGE FOUND\r\n";

std::vector<uint8_t> bytes_of(const std::string& s) { return {s.begin(), s.end()}; }

std::vector<uint8_t> operator+(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A whole message's transfer bytes after the start bytes: blocks and EOT.
std::vector<uint8_t> blocks_of(const std::string& text) {
    TransferMessage msg;
    msg.text = text;
    std::vector<uint8_t> body = transfer_body(msg);
    const std::vector<uint8_t> start = {0x00, 0x30, 0x00};
    const auto at = std::search(body.begin(), body.end(), start.begin(), start.end());
    return {at + 3, body.end()};
}

TEST(FramerHeader, RecognisedOnThe24thByteAfterItsFAndNotBefore) {
    auto m = make_machines();
    const std::vector<uint8_t> line = bytes_of("xxFC EM ABCDEFGHIJKL 2048 900 0\r");
    EXPECT_EQ(frame(*m, line.data(), 2 + 24), "");
    EXPECT_EQ(frame(*m, &line[26], 1), HEADER_FOUND + "### UNCOMPRESSED LEN OF MESSAGE: 2048\r\n");
    EXPECT_EQ(m->payload.contents(), HEADER_FOUND);
}

// The start bytes alone begin a transfer, on their last byte; a byte that
// completes both a header line and the start bytes is taken as both, the
// header first.
TEST(FramerStart, StartBytesBeginATransferWithOrWithoutAHeaderOnTheSameByte) {
    const std::string text = "Net at 1900, north to south.\r\n";
    auto alone = make_machines();
    EXPECT_EQ(frame(*alone, {0x41, 0x00, 0x30}), "");
    EXPECT_EQ(frame(*alone, {0x00}), NO_HEADER + START);
    // "FC EM" and 17 more bytes, then 00 30 00: the last 00 is both the
    // header's 24th byte after its F and the last start byte.
    const std::vector<uint8_t> both = bytes_of("FC EM ABCDEFGHIJKL 30 ") + std::vector<uint8_t>{0x00, 0x30, 0x00};
    for (FramerState before : {SeekHeader, SeekStart}) {
        auto m = make_machines();
        if (before == SeekStart) frame(*m, bytes_of("FC EM ABCDEFGHIJKL 11 0 0 ....."));
        ASSERT_EQ(m->framer.state, before);
        const std::string shown = frame(*m, both);
        EXPECT_TRUE(shown.ends_with(START)) << shown;
        EXPECT_EQ(m->framer.state, SkipTypeByte);
        // Awaited already, the new header waits its turn behind the transfer.
        EXPECT_EQ(m->framer.remembered_count, before == SeekStart ? 1 : 0);
        frame(*m, blocks_of(text));
        EXPECT_EQ(count_of(m->payload.contents(), ok_line(text)), 1u);
    }
}

// A header line shorter than the look-back completes after its own
// transfer's start: it is that transfer's header, seen late, and ignored.
// One whose F stood after the start cuts the transfer.
TEST(FramerStart, LateHeaderOfItsOwnTransferIsIgnoredALaterOneCutsIt) {
    const std::string text = sample_text(3, 600);
    // A line, SOH, a header length and an empty title, then the start; and
    // "FC EM" right before the start, as close as an F can stand to it.
    for (const std::string& before_start : {std::string("FC EM A 600 0\r\x01\x02"), std::string("FC EM")}) {
        auto m = make_machines();
        frame(*m, bytes_of(before_start) + std::vector<uint8_t>{0x00, 0x30, 0x00} + blocks_of(text));
        EXPECT_EQ(m->payload.contents(), NO_HEADER + text + COMPLETED + ok_line(text)) << before_start;
    }

    // The first F that can follow the start and still leave the transfer
    // under way is the block's length byte: its line cuts the transfer,
    // wherever it stands against the ring's end.
    for (int32_t f_at = -30; f_at <= 30; ++f_at) {
        auto cut = make_machines();
        cut->ring.read_index = cut->ring.write_index = ring_wrap(f_at - 4);
        frame(*cut, std::vector<uint8_t>{0x00, 0x30, 0x00, 0x02} + bytes_of("FC EM ABCDEFGHIJKL 30 0 0 ..."));
        const std::string cut_file = cut->payload.contents();
        EXPECT_TRUE(cut_file.starts_with(NO_HEADER) && cut_file.ends_with(HEADER_FOUND) &&
                    cut_file.find(NEXT_HEADER + "### MESSAGE CHECK: DAMAGED (") != std::string::npos)
            << f_at << ": " << cut_file;
        EXPECT_EQ(cut->framer.state, SeekStart);
    }
}

// A transfer that gets no more bytes: what arrived is recovered, then the
// closing line and the check; after a pause or a lost port the next
// announcement is taken, at the end of a capture or a run nothing follows.
// An announcement still awaited has had no byte: nothing to close.
TEST(FramerAbandon, TransferUnderWayGetsClosingAndCheckAnAwaitedOneStays) {
    const std::string text = sample_text(5, 900);
    const std::vector<uint8_t> blocks = blocks_of(text);
    const std::vector<uint8_t> half(blocks.begin(), blocks.begin() + 120);
    const struct {
        TransferEnd why;
        std::string closing;
        bool next_taken;
    } cases[] = {
        {SilenceTimeout, TIMEOUT, true}, {PortLost, PORT_LOST, true},
        {EndOfCapture, END_OF_CAPTURE, false}, {RunStopped, RUN_STOPPED, false},
    };
    for (const auto& c : cases) {
        auto m = make_machines();
        frame(*m, bytes_of("FC EM ABCDEFGHIJKL 900 0 0 ..FC EM ABCDEFGHIJKL 1 0 0 ...\x01\x02") +
                      std::vector<uint8_t>{0x00, 0x30, 0x00} + half);
        ASSERT_TRUE(transfer_under_way(m->framer));
        const std::string before = m->payload.contents();
        StdoutCapture out;
        abandon_transfer(m->framer, m->decoder, m->output, c.why);
        const std::string added = m->payload.contents().substr(before.size());
        // What arrived comes out, the pending bits included.
        const size_t closing = added.find(c.closing);
        ASSERT_NE(closing, std::string::npos) << c.closing;
        const std::string decoded = before.substr(HEADER_FOUND.size()) + added.substr(0, closing);
        EXPECT_TRUE(decoded.size() > 100 && text.starts_with(decoded)) << decoded;
        EXPECT_NE(added.find("### MESSAGE CHECK: DAMAGED (", closing), std::string::npos);
        EXPECT_EQ(added.ends_with(HEADER_FOUND), c.next_taken) << added;
        EXPECT_EQ(m->framer.state, c.next_taken ? SeekStart : SeekHeader);
        EXPECT_EQ(m->framer.remembered_count, 0);
    }
}

// Monitoring misses and mangles frames: a flipped bit in any byte of the
// stream, its CRC and length included, never passes as OK; nor does a
// stream cut inside its six header bytes, whatever those bytes are.
TEST(FramerCheck, AFlippedBitOrAHeaderCutShortIsNeverOk) {
    TransferMessage msg;
    msg.text = sample_text(8, 160);
    const int64_t size = static_cast<int64_t>(compressed_message(msg).size());
    for (msg.flip_at = -1; msg.flip_at < size; ++msg.flip_at) {
        auto m = make_machines();
        frame(*m, transfer_header(msg) + transfer_body(msg));
        const std::string verdict = msg.flip_at < 0 ? "### MESSAGE CHECK: OK (" : "### MESSAGE CHECK: DAMAGED (";
        EXPECT_NE(m->payload.contents().find(verdict), std::string::npos) << msg.flip_at;
    }
    // Six zero bytes are a whole, empty, intact stream; fewer never are.
    for (const uint8_t fill : {uint8_t{0x00}, uint8_t{0x5A}, uint8_t{0xFF}}) {
        for (uint8_t cut = 1; cut <= 6; ++cut) {
            auto m = make_machines();
            std::vector<uint8_t> stream(cut, fill);
            frame(*m, std::vector<uint8_t>{0x00, 0x30, 0x00, 0x02, cut} + stream + std::vector<uint8_t>{0x04, 0x00});
            const bool whole_empty = cut == 6 && fill == 0x00;
            EXPECT_NE(m->payload.contents().find(whole_empty ? "CHECK: OK (0 OF 0" : "CHECK: DAMAGED ("),
                      std::string::npos)
                << int{fill} << " cut " << int{cut};
        }
    }
}

// Messages that end every way a transfer can: by count, by EOT in a later
// read than the last block, without EOT, in full blocks, as a group, cut.
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
    return build_capture(msgs, options);
}

// The live run drains the ring after every read, the capture run after
// every piece it reads; a ring may be anywhere in its storage when a
// message begins.  None of that may change what comes out.
TEST(FramerDrains, SplitAnywhereAndAcrossTheRingsEndDecodeTheSame) {
    CaptureRng rng{5};
    const CaptureBuilder b = varied_capture(rng);
    auto once = make_machines();
    const std::string console = frame(*once, b.payload);
    const std::string file = once->payload.contents();
    // Five whole messages; the cut one, last in the capture, never ends.
    ASSERT_EQ(count_of(file, "### MESSAGE CHECK: OK"), 5u);
    for (int round = 0; round < 20; ++round) {
        auto m = make_machines();
        m->ring.read_index = m->ring.write_index = ring_wrap(-static_cast<int32_t>(rng_between(rng, 0, 20000)));
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
