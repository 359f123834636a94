#include <gtest/gtest.h>

#include "monitor_test_support.h"

namespace {

struct Parsed {
    std::string console;
    std::string file;
    std::string ring;
    ParserState state;
};

Parsed parse(Machines& m, const std::string& text) {
    Parsed p;
    {
        StdoutCapture out;
        feed_text(m, text);
        p.console = out.text();
    }
    p.file = read_stream(m.payload_file);
    p.ring = take_unread(m);
    p.state = m.parser.state;
    return p;
}

Parsed parse(const std::string& text) { return parse(*make_machines(), text); }

}  // namespace

// --- keyword windows -------------------------------------------------------

TEST(ParserKeywords, NumbersAreReadFromFixedWindows) {
    auto m = make_machines();
    parse(*m, "\r\nLEN: 123456789 ");
    EXPECT_EQ(m->parser.chars_left, 1234567);  // 7 characters after the blank
    parse(*m, "TYPE: 123456789 ");
    EXPECT_EQ(m->parser.payload_type, 123456u);  // 6 characters after the blank
    parse(*m, "TYPE: -2    ");
    EXPECT_EQ(m->parser.payload_type, 0xFFFFFFFEu);
    parse(*m, "len: 5 type: 8 LEN:5    ");  // case and the blank matter
    EXPECT_EQ(m->parser.chars_left, 1234567);
    EXPECT_EQ(m->parser.payload_type, 0xFFFFFFFEu);
}

TEST(ParserKeywords, FoundAnywhereInALineAndLaterValuesWin) {
    const Parsed p = parse("\r\nrx TYPE: 8 then LEN: 9 ... LEN: 2 ###PAYLOAD2:\r\n41 42 43");
    EXPECT_EQ(p.ring, "AB");
    EXPECT_EQ(p.console, "\r### <Bin data>\r\n");
}

TEST(ParserKeywords, MissedWhenTheirLastCharacterFollowsAReset) {
    auto m = make_machines();
    parse(*m, "\r\nLEN: 3 ###PAYLOAD2");
    restart(m->parser);
    EXPECT_EQ(parse(*m, ":\r\nabc").state, ScanHeader);  // the colon only left Reset
    EXPECT_EQ(read_stream(m->payload_file), "");
    // Characters taken by Reset still count for later windows.
    EXPECT_EQ(parse("LEN: 3 ###PAYLOAD2:\r\nabc").file, "abc");
}

// --- text payloads ---------------------------------------------------------

TEST(ParserText, EndsAtCrAfterTheAnnouncedLength) {
    const Parsed p = parse("\r\nLEN: 5\r\n###PAYLOAD2:\r\nhello\r\n###PAYLOAD_END\r\n");
    EXPECT_EQ(p.console, "hello");
    EXPECT_EQ(p.file, "hello");
    EXPECT_EQ(p.ring, "hello");
    EXPECT_EQ(p.state, ScanHeader);
}

TEST(ParserText, TwoExtraCharactersUnlessTheyEndIt) {
    EXPECT_EQ(parse("\r\nLEN: 3\r\n###PAYLOAD2:\r\nabcdefg").file, "abcde");
    EXPECT_EQ(parse("\r\nLEN: 3\r\n###PAYLOAD2:\r\nabcd#f").file, "abcd");
    EXPECT_EQ(parse("\r\nLEN: 3\r\n###PAYLOAD2:\r\nabc\nx").file, "abc");
    EXPECT_EQ(parse("\r\nLEN: 3\r\n###PAYLOAD2:\r\n#\n#de").file, "#\n#de");  // inside the length they are text
    EXPECT_EQ(parse("\r\n###PAYLOAD2:\r\nhello").file, "he");              // no LEN: at most two
}

TEST(ParserText, ConsoleGetsLineFeedBeforeCr) {
    const Parsed p = parse("\r\nTYPE: 7 LEN: 4 \r\n###PAYLOAD2:\r\nab\rc\r\n");
    EXPECT_EQ(p.console, "ab\n\rc");
    EXPECT_EQ(p.file, "ab\rc");
    EXPECT_EQ(p.ring, "ab\rc");
}

TEST(ParserText, EndMarkerSeenOneCharacterLate) {
    const Parsed p = parse("\r\nLEN: 40 \r\n###PAYLOAD2:\r\nhi###PAYLOAD_END\r\nLEN: 2 ###PAYLOAD2:\r\nok");
    EXPECT_EQ(p.file, "hi###PAYLOAD_END\rok");  // the CR after it is still payload
}

TEST(ParserText, LineEndsBeforeThePayloadAreSkippedButBlanksAreNot) {
    EXPECT_EQ(parse("\r\nLEN: 2 ###PAYLOAD2:\r\n\n\r\r\nhi\r").file, "hi");
    EXPECT_EQ(parse("\r\nLEN: 3 ###PAYLOAD2: hi\r").file, " hi");
}

// --- binary payloads -------------------------------------------------------

TEST(ParserBinary, TriplesGiveBytesAndNothingIsEchoed) {
    const Parsed p = parse("\r\nTYPE: 8 LEN: 3\r\n###PAYLOAD2:\r\n41 42 43\r\n###PAYLOAD_END\r\n");
    EXPECT_EQ(p.console, "\r### <Bin data>\r\n");
    EXPECT_EQ(p.file, "");
    EXPECT_EQ(p.ring, "ABC");
    EXPECT_EQ(p.state, ScanHeader);  // Reset on the final 3, the CR moved on
}

TEST(ParserBinary, SeparatorValueIsIgnoredAndOddPairsConvert) {
    EXPECT_EQ(parse("\r\nTYPE: 8 LEN: 4\r\n###PAYLOAD2:\r\nzz# 5x5 :fF").ring, std::string("\x00\x05\x05\xFF", 4));
}

TEST(ParserBinary, HigherAndNegativeTypesReadHexOverLengthPlusTwo) {
    for (const char* type : {"9", "255", "-1"}) {
        const Parsed p = parse(std::string("\r\nTYPE: ") + type + " LEN: 3\r\n###PAYLOAD2:\r\n41 42 43");
        EXPECT_EQ(p.ring, "AB") << type;
        EXPECT_EQ(p.console, "") << type;
    }
}

TEST(ParserBinary, ZeroLengthEndsAtTheFirstCharacter) {
    auto m = make_machines();
    EXPECT_EQ(parse(*m, "\r\nTYPE: 8 LEN: 0\r\n###PAYLOAD2:\r\n4").ring, "");
    EXPECT_EQ(m->parser.state, Reset);
    EXPECT_EQ(parse("\r\nTYPE: 8\r\n###PAYLOAD2:\r\n41 42").ring, "");
}

TEST(ParserBinary, EndMarkerOnlyOnCharactersThatCompleteNoPair) {
    const std::string hex = "\r\nTYPE: 8 LEN: 99\r\n###PAYLOAD2:\r\n";
    EXPECT_EQ(parse(hex + "41 ###PAYLOAD_ENDx").state, Reset);
    // Here the character after the marker completes a pair: the marker is missed.
    EXPECT_EQ(parse(hex + "41###PAYLOAD_ENDxyz").state, InPayload);
}
