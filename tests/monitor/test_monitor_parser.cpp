#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "monitor/number_reading.h"
#include "tests/monitor/monitor_test_support.h"
#include "tests/support/own_block.h"
#include "tests/support/recorded_output.h"

namespace {

struct Parsed {
    std::string console;
    std::string file;
    std::string ring;
};

Parsed parse(Machines& m, const std::string& text) {
    StdoutCapture out;
    feed_text(m, text);
    return {out.stop(), m.payload.contents(), take_unread(m)};
}

Parsed parse(const std::string& text) { return parse(*make_machines(), text); }

int32_t decimal(const char* text) { return read_decimal(text, static_cast<int32_t>(std::strlen(text))); }

const std::string TEXT_START = "\r\nLEN: 3 \r\n###PAYLOAD2:\r\n";
const std::string HEX_START = "\r\nTYPE: 8 LEN: 3\r\n###PAYLOAD2:\r\n";

// Every keyword and the false starts of some, a hexadecimal report long
// enough to be read in whole triples, with separators of every kind (a '#'
// among them), and a text report that the end marker closes.
const std::string SMALL_CAPTURE = "MON LEt TYpe ## on\r\nTYPE: 8 rx LEN: 13\r\n###PAYLOAD2:\r\n"
                                  "41 42\t43-44\r45G46:47 48 49 4A 4b 4C#4D\r\n###PAYLOAD_END\r\n"
                                  "LEN: 40 \r\n###PAYLOAD2:\r\nhi\rthere###PAYLOAD_END\r\n";

// The payload bytes, what the output was handed and the state the parser is
// left in, from `text` read in pieces that end at `cuts`, each piece in a
// heap block of its own; character by character or a piece per call.  The
// bytes go to the ring from `ring_end` places before its end on.
std::string extract(const std::string& text, std::vector<size_t> cuts, size_t ring_end, bool by_character = false) {
    static PayloadRing ring;  // only the bytes written to it count
    const int32_t start = ring_wrap(-static_cast<int32_t>(ring_end));
    ring.write_index = start;
    MonitorParser parser{};
    Recorded recorded;
    const MonitorOutput out = recorded.output();
    cuts.push_back(text.size());
    for (size_t at = 0, k = 0; k < cuts.size(); at = cuts[k++]) {
        const std::vector<uint8_t> read = own_block(text.data() + at, cuts[k] - at);
        if (!by_character) feed_chars(parser, ring, out, read.data(), static_cast<int32_t>(read.size()));
        for (size_t i = 0; by_character && i < read.size(); ++i) feed_char(parser, ring, out, read[i]);
    }
    std::string bytes;
    for (int32_t k = start; k != ring.write_index; k = ring_advance(k, 1)) bytes += static_cast<char>(ring.bytes[k]);
    return bytes + "|" + recorded.text + "|" + std::to_string(parser.state) + " " + std::to_string(parser.chars_left);
}

}  // namespace

TEST(ParserKeywords, MissedWhenTheirLastCharacterFollowsAReset) {
    auto m = make_machines();
    parse(*m, "\r\nLEN: 3 ###PAYLOAD2");
    restart(m->parser);
    EXPECT_EQ(parse(*m, ":\r\nabc").file, "");  // the colon only left Reset
    EXPECT_EQ(m->parser.state, ScanHeader);
    // Characters taken by Reset still count for later windows.
    EXPECT_EQ(parse("LEN: 3 ###PAYLOAD2:\r\nabc").file, "abc");
}

TEST(ParserPayloads, WhatIsExtractedAndShown) {
    const struct {
        std::string input, console, file, ring;
    } cases[] = {
        // text: echoed, written and appended; the CR after the length ends it
        {TEXT_START + "abc\r\n###PAYLOAD_END\r\n", "abc", "abc", "abc"},
        // two more characters unless #, CR or LF; inside the length those are text
        {TEXT_START + "abcdefg", "abcde", "abcde", "abcde"},
        {TEXT_START + "abcd#f", "abcd", "abcd", "abcd"},
        {TEXT_START + "#\n#de", "#\n#de", "#\n#de", "#\n#de"},
        {"\r\n###PAYLOAD2:\r\nhello", "he", "he", "he"},  // no LEN: at most two
        // the console gets LF before CR, the file and ring the bytes as sent
        {"\r\nTYPE: 7 LEN: 4 \r\n###PAYLOAD2:\r\nab\rc\r\n", "ab\n\rc", "ab\rc", "ab\rc"},
        // the end marker counts with the character after it, which is still payload
        {"\r\nLEN: 40 \r\n###PAYLOAD2:\r\nhi###PAYLOAD_END\r\nLEN: 2 ###PAYLOAD2:\r\nok", "hi###PAYLOAD_END\n\rok",
         "hi###PAYLOAD_END\rok", "hi###PAYLOAD_END\rok"},
        // any line ends before the payload are skipped, a blank is not
        {"\r\nLEN: 2 ###PAYLOAD2:\r\n\n\r\r\nhi\r", "hi", "hi", "hi"},
        {"\r\nLEN: 3 ###PAYLOAD2: hi\r", " hi", " hi", " hi"},
        // hex triples, count 3n - 1 (separators and odd pairs: ParserSplits, NumberReading)
        {HEX_START + "41 42 43\r\n###PAYLOAD_END\r\n", "\r### <Bin data>\r\n", "", "ABC"},
        // keywords anywhere in a line, the later value winning
        {"\r\nrx TYPE: 8 then LEN: 9 ... LEN: 1 ###PAYLOAD2:\r\n41 42", "\r### <Bin data>\r\n", "", "A"},
        // types above 8 (negative ones too: BadInput): hex over the length plus 2, not announced
        {"\r\nTYPE: 9 LEN: 3\r\n###PAYLOAD2:\r\n41 42 43", "", "", "AB"},
        // type 8 without a length: the count is -1, nothing is appended
        {"\r\nTYPE: 8 LEN: 0\r\n###PAYLOAD2:\r\n41", "\r### <Bin data>\r\n", "", ""},
        {"\r\nTYPE: 8\r\n###PAYLOAD2:\r\n41 42", "\r### <Bin data>\r\n", "", ""},
        // in hex the end marker is read as pairs (## PA LO D_ ND) until the
        // character after it completes none
        {"\r\nTYPE: 8 LEN: 99\r\n###PAYLOAD2:\r\n41 ###PAYLOAD_ENDx42 43\r\nLEN: 2 ###PAYLOAD2:\r\nok",
         "\r### <Bin data>\r\nok", "ok", std::string("A\0\0\0\r\0ok", 8)},
    };
    for (const auto& c : cases) {
        const Parsed p = parse(c.input);
        EXPECT_EQ(p.console, c.console) << c.input;
        EXPECT_EQ(p.file, c.file) << c.input;
        EXPECT_EQ(p.ring, c.ring) << c.input;
    }
}

// A read may end anywhere: inside a keyword, its number, a hexadecimal pair
// or the end marker, and the ring's end anywhere in the payload.  Every
// place for one boundary and every pair of places for two give what the
// same text gives one character at a time.
TEST(ParserSplits, AnyOneOrTwoReadBoundariesGiveWhatOneCharacterAtATimeGives) {
    const std::string expected = extract(SMALL_CAPTURE, {}, 0, true);
    ASSERT_EQ(expected, "ABCDEFGHIJKLMhi\rthere###PAYLOAD_END\r|\2\r### <Bin data>\r\nhi\rthere###PAYLOAD_END\r|1 0");
    for (size_t ring_end = 0; ring_end < 16; ++ring_end) ASSERT_EQ(extract(SMALL_CAPTURE, {}, ring_end), expected);
    for (size_t i = 1; i < SMALL_CAPTURE.size(); ++i) {
        ASSERT_EQ(extract(SMALL_CAPTURE, {i}, i % 16), expected) << i;
        for (size_t j = i + 1; j < SMALL_CAPTURE.size(); ++j)
            ASSERT_EQ(extract(SMALL_CAPTURE, {i, j}, (i + j) % 16), expected) << i << ' ' << j;
    }
}

// Numbers are read as atoi reads them, to a NUL, keeping the low 32 bits of
// longer ones; hexadecimal pairs as scanf's %x reads them.
TEST(NumberReading, DecimalsAsAtoiAndHexPairsAsScanfReadThem) {
    for (const char* text : {"", "7", "  42x", "\t\n\v\f\r9", "-17", "+17", "- 5", "+-3", "--1", "0009", "12 34", "x12",
                             " ", "-", "2147483647", "-2147483648", "1e5", "99999\r\n", "123456789012345678",
                             "-123456789012345678"})
        EXPECT_EQ(decimal(text), static_cast<int32_t>(std::strtoll(text, nullptr, 10))) << '"' << text << '"';
    EXPECT_EQ(read_decimal("12\0" "34", 5), 12);
    for (int first = 0; first < 256; ++first) {
        for (int second = 0; second < 256; ++second) {
            const char text[3] = {static_cast<char>(first), static_cast<char>(second), 0};
            unsigned int expected = 0;
            std::sscanf(text, "%x", &expected);
            ASSERT_EQ(hex_pair_value(static_cast<uint8_t>(first), static_cast<uint8_t>(second)),
                      static_cast<uint8_t>(expected))
                << first << ' ' << second;
        }
    }
}
