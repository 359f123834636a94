#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "tests/lzhuf/decode_helpers.h"
#include "tests/support/sample_text.h"

namespace {

// Block data comes in runs, decoded by a path of its own: each run must end
// with the count that one byte per call gives after the run's last byte.
void expect_runs_match(LzhufDecoder& d, const std::vector<uint8_t>& message, const DecodeResult& fed, size_t run) {
    const DecodeResult r = decode(d, message, -1, run);
    ASSERT_TRUE(r.stream == fed.stream);
    for (size_t k = 0; k < r.ends.size(); ++k)
        ASSERT_EQ(r.counts[k], fed.counts[r.ends[k] - 1]) << "run of " << run << " to " << r.ends[k];
}

// Byte by byte, bits are taken only while at least 9 are pending and a call
// merges its byte once 8 or fewer are, so of T bits after the header every
// step ending by bit T - 16 has completed and none ending past T - 8 has.
// Finish to the input's length gives it all back; a larger limit adds only
// what the zero padding decodes to (under 8 bits: at most 7 literals).
void expect_round_trip(const std::string& input, LzhufDecoder& d) {
    std::vector<EncodedStep> steps;
    const std::vector<uint8_t> message = lzhuf_compress(bytes_of(input).data(), input.size(), &steps);
    const uint64_t total_bits = 8 * (static_cast<uint64_t>(message.size()) - 6);
    uint64_t at_least = 0, at_most = 0;
    for (const EncodedStep& s : steps) {
        if (s.end_bit + 16 <= total_bits) at_least = s.chars_after;
        if (s.end_bit + 8 <= total_bits) at_most = s.chars_after;
    }

    const DecodeResult fed = decode(d, message);
    ASSERT_GE(fed.stream.size(), at_least);
    ASSERT_LE(fed.stream.size(), at_most);
    ASSERT_TRUE(fed.stream == input.substr(0, fed.stream.size()));
    ASSERT_EQ(fed.counts.back(), static_cast<int64_t>(fed.stream.size()));
    // Bytes after the stream's end, as when a block goes on past it: runs
    // must stop on the byte that completes the stream.
    std::vector<uint8_t> followed = message;
    followed.insert(followed.end(), 40, 0x5A);
    const DecodeResult fed_followed = decode(d, followed);
    for (size_t run : {2u, 3u, 7u, 256u}) {
        expect_runs_match(d, message, fed, run);
        expect_runs_match(d, followed, fed_followed, run);
    }

    ASSERT_TRUE(decode(d, message, static_cast<int32_t>(input.size())).stream == input);
    const DecodeResult over = decode(d, message, static_cast<int32_t>(input.size()) + 1000);
    ASSERT_LE(over.stream.size(), input.size() + 7);
    ASSERT_TRUE(over.stream.compare(0, input.size(), input) == 0);
}

std::string random_bytes(std::mt19937& rng, size_t n) {
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(rng() & 0xFF);
    return s;
}

// "AA": the second 'A' lies complete in the pending bits of the last byte,
// yet byte by byte it waits for finish.  200 000 random bytes are 200 000
// literal symbols, six rebuilds; text has fewer symbols per character.
TEST(LzhufRoundTrip, InputsOfEveryKindComeBackWhole) {
    std::mt19937 rng(1);
    auto d = new_decoder();
    for (size_t n : {1u, 2u, 3u, 5u, 17u, 100u, 1000u, 4096u, 5000u, 200000u}) {
        SCOPED_TRACE(n);
        expect_round_trip(random_bytes(rng, n), *d);
    }
    for (size_t i = 0; i < 41; ++i) {
        SCOPED_TRACE(i);
        expect_round_trip(sample_text(rng(), i < 40 ? 1 + rng() % 20000 : 600000), *d);
    }
    std::string ab;
    for (int i = 0; i < 30000; ++i) ab += static_cast<char>('a' + rng() % 2);
    for (const std::string& input : {std::string("AA"), std::string(10000, ' '), std::string(777, '\0'), ab})
        expect_round_trip(input, *d);
}

}  // namespace
