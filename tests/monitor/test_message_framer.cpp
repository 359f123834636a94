// The message framer where whole captures cannot look: the byte on which a
// header is recognised, the bound on remembered announcements, and the check
// of every byte of a stream.
#include <gtest/gtest.h>

#include "tests/monitor/monitor_test_support.h"
#include "tests/support/message_check.h"
#include "tests/support/sample_text.h"
#include "tools/capture_builder.h"

namespace {

std::vector<uint8_t> bytes_of(const std::string& s) { return {s.begin(), s.end()}; }

TEST(FramerHeader, RecognisedOnThe24thByteAfterItsFAndNotBefore) {
    auto m = make_machines();
    // Start bytes and blocks before any header are ignored.
    EXPECT_EQ(frame(*m, {0x00, 0x30, 0x00, 0x02, 0x05, 'a', 'b'}), "");
    const std::vector<uint8_t> line = bytes_of("xxFC EM ABCDEFGHIJKL 2048 900 0\r");
    EXPECT_EQ(frame(*m, line.data(), 2 + 24), "");
    EXPECT_EQ(frame(*m, &line[26], 1), HEADER_FOUND + "### UNCOMPRESSED LEN OF MESSAGE: 2048\r\n");
    EXPECT_EQ(m->payload.contents(), HEADER_FOUND);
}

// Announcements that arrive while a transfer is awaited are remembered,
// sixteen at most; a restart forgets them.
TEST(FramerHeader, AtMostSixteenAnnouncementsAreRemembered) {
    auto m = make_machines();
    std::string lines;
    for (int i = 0; i < 20; ++i) lines += "FC EM ABCDEFGHIJKL " + std::to_string(100 + i) + " 1 0\r";
    frame(*m, bytes_of(lines));
    EXPECT_EQ(m->framer.remembered_count, MAX_REMEMBERED_HEADERS);
    EXPECT_EQ(m->framer.remembered[0].length, 101);
    restart(m->framer);
    EXPECT_EQ(m->framer.remembered_count, 0);
}

// Monitoring misses and mangles frames: a flipped bit in any byte of the
// stream, its CRC and length included, never passes as OK.
TEST(FramerCheck, AFlippedBitInAnyByteOfTheStreamIsDamaged) {
    TransferMessage msg;
    msg.text = sample_text(8, 160);
    const int64_t size = static_cast<int64_t>(compressed_message(msg).size());
    for (msg.flip_at = -1; msg.flip_at < size; ++msg.flip_at) {
        auto m = make_machines();
        std::vector<uint8_t> payload = transfer_header(msg);
        const std::vector<uint8_t> body = transfer_body(msg);
        payload.insert(payload.end(), body.begin(), body.end());
        frame(*m, payload);
        const std::string verdict = msg.flip_at < 0 ? "### MESSAGE CHECK: OK (" : "### MESSAGE CHECK: DAMAGED (";
        EXPECT_NE(m->payload.contents().find(verdict), std::string::npos) << msg.flip_at;
    }
}

}  // namespace
