#include <gtest/gtest.h>

#include "lzhuf/position_tables.h"
#include "tests/lzhuf/decode_helpers.h"

namespace {

const std::vector<uint8_t> HEADER = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
// The nine-bit code of 'A' padded with zeros.
const std::vector<uint8_t> ONE_A = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0xE6, 0x80};

// Before the bit stream finish has nothing to decode; the last 8 bits fed
// are never decoded by feeding alone, and a limit past what the pending bits
// hold conjures nothing from the seven zero padding bits.
TEST(LzhufDecoderResume, NineBitCodeWaitsForAThirdByteOrFinish) {
    auto d = new_decoder();
    for (const std::vector<uint8_t>& start : {std::vector<uint8_t>{}, std::vector<uint8_t>{1, 2}})
        EXPECT_EQ(decode(*d, start, 10).stream, "");
    EXPECT_EQ(decode(*d, HEADER).counts, std::vector<int64_t>(6, 0));
    EXPECT_EQ(d->state, SymbolStart);

    DecodeResult r = decode(*d, ONE_A);
    EXPECT_EQ(r.counts.back(), 0);
    EXPECT_EQ(r.stream, "");
    std::string out;
    EXPECT_EQ(feed_byte(*d, 0x5A, string_sink(out)), 1);
    EXPECT_EQ(out, "A");
    EXPECT_EQ(d->bit_count, 15);
    EXPECT_EQ(decode(*d, ONE_A, 1).stream, "A");
    EXPECT_EQ(decode(*d, ONE_A, 1000).stream, "A");
}

// Overlapping copies repeat their own output; the ring starts as spaces up
// to its top 60 places, which a fresh decoder never wrote (zeros), and a
// second message sees what the first left there.
TEST(LzhufDecoderCopies, OverlappingCopiesAndWhatTheRingHoldsBeforeAndBetweenMessages) {
    LzhufEncoder e{};
    encoder_start(e);
    encode_literal(e, 'a');
    encode_literal(e, 'b');
    encode_match(e, 60, 1);  // from two back ("position + 1"): "ab" over and over
    encode_match(e, 5, 0);   // the last character five times
    auto d = new_decoder();
    std::string copied;
    for (int k = 0; k < 62; ++k) copied += "ab"[k % 2];
    EXPECT_EQ(decode(*d, hand_built(e, 67), 67).stream, copied + "bbbbb");

    encoder_start(e);
    encode_match(e, 10, 100);
    encode_match(e, 3, 4035);  // ring position 0
    encode_literal(e, '!');
    EXPECT_EQ(decode(*d, hand_built(e, 14), 14).stream, std::string(13, ' ') + "!");

    encoder_start(e);
    encode_match(e, 60, 4095);  // ring position 4036
    const std::vector<uint8_t> reach_back = hand_built(e, 60);
    d = new_decoder();
    EXPECT_EQ(decode(*d, reach_back, 60).stream, std::string(60, '\0'));
    std::string first;
    for (int i = 0; i < 100; ++i) first += static_cast<char>('A' + i % 26);
    decode(*d, lzhuf_compress(bytes_of(first).data(), first.size()), 100);
    EXPECT_EQ(decode(*d, reach_back, 60).stream, first.substr(0, 60));
}

}  // namespace

// Where each row of the position code starts, its first upper six bits and
// its prefix length, and the last entry; the roundtrips catch an entry
// inside a row that breaks the code.
TEST(PositionTables, RowsStartWhereTheCodeSays) {
    const int rows[][3] = {{0x00, 0, 3}, {0x20, 1, 4}, {0x50, 4, 5}, {0x90, 12, 6}, {0xC0, 24, 7}, {0xF0, 48, 8}, {0xFF, 63, 8}};
    for (const auto& [b, v, length] : rows) {
        EXPECT_EQ(position_high_table[b], v) << b;
        EXPECT_EQ(position_length_table[b], length) << b;
    }
}
