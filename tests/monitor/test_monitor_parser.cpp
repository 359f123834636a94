#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "monitor/number_reading.h"
#include "tests/monitor/monitor_test_support.h"

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
        // hex triples, count 3n - 1, separators of any value, odd pairs
        {HEX_START + "41 42 43\r\n###PAYLOAD_END\r\n", "\r### <Bin data>\r\n", "", "ABC"},
        {"\r\nTYPE: 8 LEN: 4\r\n###PAYLOAD2:\r\nzz# 5x5 :fF", "\r### <Bin data>\r\n", "", std::string("\0\5\5\xFF", 4)},
        // keywords anywhere in a line, the later value winning
        {"\r\nrx TYPE: 8 then LEN: 9 ... LEN: 1 ###PAYLOAD2:\r\n41 42", "\r### <Bin data>\r\n", "", "A"},
        // types above 8 and negative ones: hex over the length plus 2, not announced
        {"\r\nTYPE: 9 LEN: 3\r\n###PAYLOAD2:\r\n41 42 43", "", "", "AB"},
        {"\r\nTYPE: -1 LEN: 3\r\n###PAYLOAD2:\r\n41 42 43", "", "", "AB"},
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
