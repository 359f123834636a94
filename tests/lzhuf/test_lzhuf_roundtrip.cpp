#include <gtest/gtest.h>

#include <random>

#include "tests/lzhuf/decode_helpers.h"

namespace {

// How much the byte-fed path may hold back at the end of a message.
//
// Let T be the number of bits after the six header bytes.  Bits are taken
// only while at least 9 are pending, so no step whose last bit lies beyond
// bit T - 8 can complete.  The last call merges its byte once 8 or fewer bits
// are pending, i.e. after at least T - 16 bits have been consumed, so every
// step ending at or before bit T - 16 has completed.  The output must be a
// prefix of the input whose length lies between those two step boundaries.
struct TailBounds {
    uint64_t at_least;
    uint64_t at_most;
};

TailBounds tail_bounds(const std::vector<EncodedStep>& steps, size_t message_size) {
    const uint64_t total_bits = 8 * (static_cast<uint64_t>(message_size) - 6);
    TailBounds b{0, 0};
    for (const EncodedStep& s : steps) {
        if (s.end_bit + 16 <= total_bits) b.at_least = s.chars_after;
        if (s.end_bit + 8 <= total_bits) b.at_most = s.chars_after;
    }
    return b;
}

void expect_round_trip(const std::string& input, LzhufDecoder& d) {
    std::vector<EncodedStep> steps;
    const std::vector<uint8_t> message = lzhuf_compress(bytes_of(input).data(), input.size(), &steps);
    const TailBounds bounds = tail_bounds(steps, message.size());

    const DecodeResult fed = decode(d, message);
    ASSERT_GE(fed.stream.size(), bounds.at_least);
    ASSERT_LE(fed.stream.size(), bounds.at_most);
    ASSERT_EQ(fed.stream, input.substr(0, fed.stream.size()));
    ASSERT_EQ(fed.console, fed.stream);
    ASSERT_EQ(fed.counts.back(), static_cast<int32_t>(fed.stream.size()));

    const DecodeResult whole = decode(d, message, static_cast<int32_t>(input.size()));
    ASSERT_EQ(whole.stream.size(), input.size());
    ASSERT_TRUE(whole.stream == input);

    // Past the message only padding bits remain: fewer than 8 bits can hold
    // no match (a position alone takes 9) and at most 7 literals.
    const DecodeResult over = decode(d, message, static_cast<int32_t>(input.size()) + 1000);
    ASSERT_LE(over.stream.size(), input.size() + 7);
    ASSERT_EQ(over.stream.substr(0, input.size()), input);
}

std::string random_bytes(std::mt19937& rng, size_t n) {
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(rng() & 0xFF);
    return s;
}

std::string text_like(std::mt19937& rng, size_t n) {
    static const char* const words[] = {"the", "station", "weather", "report", "from", "Pennsylvania", "at",
                                        "0800", "UTC", "wind", "north", "east", "rain", "QSL", "73", "de"};
    std::string s;
    while (s.size() < n) {
        s += words[rng() % 16];
        s += (rng() % 9 == 0) ? "\r\n" : " ";
    }
    s.resize(n);
    return s;
}

TEST(LzhufRoundTrip, RandomBytesOfManyLengths) {
    std::mt19937 rng(1);
    auto d = new_decoder();
    for (size_t n : {1u, 2u, 3u, 5u, 17u, 100u, 1000u, 4096u, 5000u}) {
        SCOPED_TRACE(n);
        expect_round_trip(random_bytes(rng, n), *d);
    }
}

TEST(LzhufRoundTrip, TextLikeInputs) {
    std::mt19937 rng(2);
    auto d = new_decoder();
    for (int i = 0; i < 40; ++i) {
        SCOPED_TRACE(i);
        expect_round_trip(text_like(rng, 1 + rng() % 20000), *d);
    }
}

TEST(LzhufRoundTrip, RunsAndSmallAlphabets) {
    std::mt19937 rng(3);
    auto d = new_decoder();
    expect_round_trip(std::string(10000, ' '), *d);
    expect_round_trip(std::string(777, '\0'), *d);
    std::string ab;
    for (int i = 0; i < 30000; ++i) ab += static_cast<char>('a' + rng() % 2);
    expect_round_trip(ab, *d);
}

TEST(LzhufRoundTrip, LongInputsSpanSeveralRebuilds) {
    std::mt19937 rng(4);
    auto d = new_decoder();
    // 200 000 random bytes are 200 000 literal symbols: six rebuilds.
    expect_round_trip(random_bytes(rng, 200000), *d);
    // Text: fewer symbols per character, still over 60 000 symbols.
    expect_round_trip(text_like(rng, 600000), *d);
}

}  // namespace
