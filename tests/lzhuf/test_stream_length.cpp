// The stream's own length bounds what the decoder writes: a match that
// crosses it is cut there, whichever engine decodes it, and counts beyond
// 32 bits come out whole.
#include <gtest/gtest.h>

#include <algorithm>

#include "monitor/check_line.h"
#include "tests/lzhuf/decode_helpers.h"

namespace {

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
        feed_bytes(*d, message.data() + at, static_cast<int32_t>(std::min<size_t>(250, message.size() - at)), out, used);
        at += static_cast<size_t>(used);
    }
    finish(*d, out, stream_length_limit(*d));
    EXPECT_EQ(written.characters, LENGTH);
    EXPECT_TRUE(written.all_a);
    char line[CHECK_LINE_SIZE];
    format_check_line(stream_check(*d), line);
    const uint16_t crc = static_cast<uint16_t>(message[0] | message[1] << 8);
    char want[CHECK_LINE_SIZE];
    std::snprintf(want, sizeof want, "### MESSAGE CHECK: OK (2147483655 OF 2147483655 CHARACTERS, CRC %04X, SENT %04X)",
                  unsigned{crc}, unsigned{crc});
    EXPECT_STREQ(line, want);
}

}  // namespace
