#include <gtest/gtest.h>

#include "tests/lzhuf/decode_helpers.h"

namespace {

const std::vector<uint8_t> HEADER = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66};

std::vector<uint8_t> with_header(std::vector<uint8_t> stream) {
    std::vector<uint8_t> message = HEADER;
    message.insert(message.end(), stream.begin(), stream.end());
    return message;
}

TEST(LzhufDecoderResume, HeaderBytesProduceNothing) {
    auto d = new_decoder();
    const DecodeResult r = decode(*d, HEADER);
    EXPECT_EQ(r.counts, std::vector<int32_t>(6, 0));
    EXPECT_EQ(r.stream, "");
    EXPECT_EQ(d->state, SymbolStart);
}

TEST(LzhufDecoderResume, NineBitCodeWaitsForAThirdByte) {
    auto d = new_decoder();
    // 0xE6 0x80: the nine-bit code of 'A' padded with zeros.
    DecodeResult r = decode(*d, with_header({0xE6, 0x80}));
    EXPECT_EQ(r.counts.back(), 0);
    EXPECT_EQ(r.stream, "") << "the last 8 bits fed are never decoded";
    EXPECT_EQ(d->bit_count, 8);

    TempStream out;
    StdoutCapture console;
    EXPECT_EQ(feed_byte(*d, 0x5A, out.get()), 1);
    EXPECT_EQ(console.stop(), "A");
    EXPECT_EQ(out.contents(), "A");
    EXPECT_EQ(d->bit_count, 15);
}

TEST(LzhufDecoderResume, FinishRecoversTheHeldBackTail) {
    auto d = new_decoder();
    DecodeResult r = decode(*d, with_header({0xE6, 0x80}), 1);
    EXPECT_EQ(r.stream, "A");
    EXPECT_EQ(r.console, "A");

    // A larger limit cannot conjure more than the pending bits hold: the
    // seven zero padding bits are no complete code.
    r = decode(*d, with_header({0xE6, 0x80}), 1000);
    EXPECT_EQ(r.stream, "A");
}

TEST(LzhufDecoderResume, ByteFedCallStopsAtFirstStoppingPointAfterItsMerge) {
    // 'A' twice: nine bits, then A's new eight-bit code 11000101.
    LzhufEncoder e{};
    encoder_start(e);
    encode_literal(e, 'A');
    encode_literal(e, 'A');
    const std::vector<uint8_t> message = hand_built(e, 2);
    ASSERT_EQ(message.size(), 6u + 3u);

    auto d = new_decoder();
    DecodeResult r = decode(*d, message);
    // The third stream byte completes the first 'A'; the second 'A' already
    // lies complete in the 15 pending bits, but the call has merged its byte
    // and stops at the literal.
    EXPECT_EQ((std::vector<int32_t>{r.counts[6], r.counts[7], r.counts[8]}), (std::vector<int32_t>{0, 0, 1}));
    EXPECT_EQ(r.stream, "A");
    EXPECT_EQ(d->bit_count, 15);

    // finish with the message length gives the whole message back.
    r = decode(*d, message, 2);
    EXPECT_EQ(r.stream, "AA");
    // A limit stops finish even where more could be decoded.
    r = decode(*d, message, 1);
    EXPECT_EQ(r.stream, "A");
}

TEST(LzhufDecoderResume, FinishDoesNothingBeforeTheBitStream) {
    auto d = new_decoder();
    TempStream out;
    StdoutCapture console;
    restart(*d);
    EXPECT_EQ(finish(*d, out.get(), 10), 0);
    feed_byte(*d, 1, out.get());
    feed_byte(*d, 2, out.get());
    EXPECT_EQ(finish(*d, out.get(), 10), 0);
    EXPECT_EQ(d->state, SkipHeader);
    EXPECT_EQ(console.stop(), "");
}

TEST(LzhufDecoderResume, RestartMidMessageDiscardsProgress) {
    const std::string first_text(300, 'x');
    const std::string second_text = "second message, decoded from the start\r\n";
    std::vector<uint8_t> first = lzhuf_compress(reinterpret_cast<const uint8_t*>(first_text.data()), first_text.size());
    first.resize(first.size() / 2);
    const std::vector<uint8_t> second = lzhuf_compress(bytes_of(second_text).data(), second_text.size());

    auto d = new_decoder();
    decode(*d, first);  // abandoned half way, mid-symbol or mid-match
    const DecodeResult r = decode(*d, second, static_cast<int32_t>(second_text.size()));
    EXPECT_EQ(std::vector<int32_t>(r.counts.begin(), r.counts.begin() + 6), std::vector<int32_t>(6, 0));
    EXPECT_EQ(r.stream, second_text);
}

// Literals, then a match: the match's expected text is read from what was
// output before it, which is what "position + 1 characters back" means.
std::string expected_copy(const std::string& before, int32_t length, uint32_t position) {
    std::string text = before;
    const size_t from = text.size() - position - 1;
    for (int32_t k = 0; k < length; ++k) text += text[from + static_cast<size_t>(k)];
    return text;
}

TEST(LzhufDecoderCopies, WritePositionAndCopySourceWrapAroundTheRing) {
    // 70 literals move write_pos from 4036 past 4095 to 10; a copy 16 back
    // then starts at ring position 4090 and runs on through 0.
    LzhufEncoder e{};
    encoder_start(e);
    std::string before;
    for (int i = 0; i < 70; ++i) {
        const char c = static_cast<char>('0' + i % 43);
        before += c;
        encode_literal(e, static_cast<uint8_t>(c));
    }
    encode_match(e, 12, 15);
    const std::string expected = expected_copy(before, 12, 15);

    auto d = new_decoder();
    const DecodeResult r = decode(*d, hand_built(e, 82), 82);
    EXPECT_EQ(r.stream, expected);
    EXPECT_EQ(r.console, expected);
    EXPECT_EQ(d->write_pos, (RING_PREFILL + 82) % RING_SIZE);
}

TEST(LzhufDecoderCopies, CopyOverlappingItsOwnOutputRepeatsIt) {
    LzhufEncoder e{};
    encoder_start(e);
    encode_literal(e, 'a');
    encode_literal(e, 'b');
    encode_match(e, 5, 0);   // last character five times
    encode_match(e, 60, 1);  // "ab"-style period-2 repetition
    auto d = new_decoder();
    const DecodeResult r = decode(*d, hand_built(e, 67), 67);
    EXPECT_EQ(r.stream, expected_copy(expected_copy("ab", 5, 0), 60, 1));
    EXPECT_EQ(r.stream.substr(0, 7), "abbbbbb");
}

TEST(LzhufDecoderCopies, FirstStepMayCopyFromThePrefilledRing) {
    LzhufEncoder e{};
    encoder_start(e);
    encode_match(e, 10, 100);
    encode_match(e, 3, 4035);  // ring position 0
    encode_literal(e, '!');
    auto d = new_decoder();
    const DecodeResult r = decode(*d, hand_built(e, 14), 14);
    EXPECT_EQ(r.stream, std::string(13, ' ') + "!");
}

TEST(LzhufDecoderCopies, SecondMessageSeesWhatTheFirstLeftAtTheRingTop) {
    // Fresh decoder: positions 4036..4095 were never written and hold zeros.
    LzhufEncoder e{};
    encoder_start(e);
    encode_match(e, 60, 4095);  // start = 4036 - 4096 = ring position 4036
    const std::vector<uint8_t> reach_back = hand_built(e, 60);

    auto d = new_decoder();
    DecodeResult r = decode(*d, reach_back, 60);
    EXPECT_EQ(r.stream, std::string(60, '\0'));

    std::string first;
    for (int i = 0; i < 100; ++i) first += static_cast<char>('A' + i % 26);
    decode(*d, lzhuf_compress(bytes_of(first).data(), first.size()), 100);
    r = decode(*d, reach_back, 60);
    EXPECT_EQ(r.stream, first.substr(0, 60));
}

}  // namespace
