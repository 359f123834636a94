#include <gtest/gtest.h>

#include <algorithm>

#include "lzhuf/position_tables.h"
#include "lzhuf/stream_crc.h"
#include "monitor/check_line.h"
#include "tests/lzhuf/decode_helpers.h"
#include "tests/support/message_check.h"

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

// The stream's own length bounds what the decoder writes: a match that
// crosses it is cut there, whichever engine decodes it, and counts beyond
// 32 bits come out whole.
// "ABC", a 60-character match, then literals: a damaged length field may
// end the message anywhere in it, the match included.
TEST(LzhufStreamLength, NothingIsWrittenPastTheStreamsOwnLength) {
    LzhufEncoder e{};
    encoder_start(e);
    for (const char c : std::string("ABC")) encode_literal(e, static_cast<uint8_t>(c));
    encode_match(e, 60, 2);
    for (const char c : std::string("xyz")) encode_literal(e, static_cast<uint8_t>(c));
    std::string whole = "ABC";
    for (int k = 0; k < 60; ++k) whole += whole[static_cast<size_t>(k)];
    whole += "xyz";
    std::vector<uint8_t> bits = encoder_bytes(e);
    bits.insert(bits.end(), 300, 0xA5);  // a block going on past the stream

    for (const uint32_t length : {0u, 2u, 3u, 4u, 10u, 62u, 63u, 64u, 66u}) {
        const std::vector<uint8_t> message = wrap_message(bits, length);
        auto d = new_decoder();
        EXPECT_TRUE(whole.starts_with(decode(*d, message).stream));
        for (const size_t run : {size_t{0}, size_t{2}, size_t{7}, size_t{256}}) {
            const DecodeResult r = decode(*d, message, length, run);
            EXPECT_EQ(r.stream, whole.substr(0, length)) << length << " in runs of " << run;
            EXPECT_EQ(d->output_count, static_cast<int64_t>(length));
            EXPECT_TRUE(stream_check(*d).intact) << length;
            for (const int64_t count : r.counts) EXPECT_LE(count, static_cast<int64_t>(length));
        }
    }
}

// Counts what it is given, and whether all of it was the one character.
struct Tally {
    uint64_t characters = 0;
    bool all_a = true;
};

void tally(void* context, const uint8_t* text, uint32_t length) {
    auto* t = static_cast<Tally*>(context);
    t->characters += length;
    for (uint32_t k = 0; k < length; ++k) t->all_a = t->all_a && text[k] == 'A';
}

// 2^31 + 7 characters, a literal and then matches of 60 repeating it: more
// than a signed 32-bit count holds, intact, and counted to the character.
TEST(LzhufStreamLength, StreamBeyondTwoToTheThirtyOneIsCountedWholeAndOk) {
    constexpr uint64_t LENGTH = (uint64_t{1} << 31) + 7;
    LzhufEncoder e{};
    encoder_start(e);
    encode_literal(e, 'A');
    while (e.char_count + 60 <= LENGTH) encode_match(e, 60, 0);
    encode_match(e, static_cast<int32_t>(LENGTH - e.char_count), 0);
    const std::vector<uint8_t> message = wrap_message(encoder_bytes(e), static_cast<uint32_t>(LENGTH));

    auto d = new_decoder();
    Tally written;
    const TextSink out{tally, &written};
    restart(*d);
    for (size_t at = 0; at < message.size();) {
        int32_t used = 0;
        const std::vector<uint8_t> run = own_block(message.data() + at, std::min<size_t>(250, message.size() - at));
        feed_bytes(*d, run.data(), static_cast<int32_t>(run.size()), out, used);
        at += static_cast<size_t>(used);
    }
    finish(*d, out, stream_length_limit(*d));
    EXPECT_EQ(written.characters, LENGTH);
    EXPECT_TRUE(written.all_a);
    char line[CHECK_LINE_SIZE];
    format_check_line(stream_check(*d), line);
    EXPECT_EQ(line + std::string("\r\n\r\n"), check_line(message, LENGTH));
}

// The decoder's tables, built here at run time, against what they stand for.
// CRC: entry k of byte i is the CRC of i followed by k zero bytes, worked out
// bit by bit, and runs of any length agree with the bitwise CRC.  Positions:
// every upper part 0..63 in turn owns 2^(8 - L) heads for its prefix length
// L, and together they fill all 256 heads, so every head decodes.
TEST(DecoderTables, CrcEntriesAreBitwiseCrcsAndPositionHeadsFormACompletePrefixCode) {
    // Called through pointers, so that the builders run here and not only in
    // the compiler, which builds the tables the decoder reads.
    Crc16Table (*volatile build_crc)() = make_crc16_table;
    PositionTables (*volatile build_positions)() = make_position_tables;
    const Crc16Table crc = build_crc();
    for (size_t k = 0; k < 8; ++k) {
        for (uint32_t i = 0; i < 256; ++i) {
            std::vector<uint8_t> bytes(1 + k, 0);
            bytes[0] = static_cast<uint8_t>(i);
            ASSERT_EQ(crc.entry[k][i], crc16_ccitt(bytes.data(), bytes.size())) << k << " " << i;
        }
    }
    const std::vector<uint8_t> text = bytes_of("The eight-byte step and the bytes after it, all of them");
    for (int32_t n = 0; n <= static_cast<int32_t>(text.size()); ++n) {
        ASSERT_EQ(crc16_update(0, text.data(), n), crc16_ccitt(text.data(), static_cast<size_t>(n))) << n;
    }
    const PositionTables p = build_positions();
    uint32_t head = 0;
    uint32_t v = 0;
    for (; v < 64 && head < 256; ++v) {
        const uint32_t length = p.length[head];
        ASSERT_TRUE(length >= 3 && length <= 8) << head;
        for (uint32_t e = 0; e < (1u << (8 - length)); ++e, ++head) {
            ASSERT_EQ(p.high[head], v) << head;
            ASSERT_EQ(p.length[head], length) << head;
        }
    }
    EXPECT_EQ(v, 64u);
    EXPECT_EQ(head, 256u);
}

}  // namespace
