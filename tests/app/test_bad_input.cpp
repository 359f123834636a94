// Hostile and malformed captures (rows of docs/bad_input.md): what the user
// sees, the exit status, nothing on standard error, and no decodable byte
// lost.  In the sanitizer build the executable runs under
// ASan + UBSan, so a write past a buffer fails these tests too.
#include <gtest/gtest.h>

#include "tests/app/velk_program.h"

namespace {

// Reports that break the rules show and store exactly what the parser lets
// through, and nothing else.
TEST(BadInput, MalformedReportsGiveExactlyWhatTheyAllow) {
    // Without LEN each marker opens a payload of the two characters allowed
    // past a length of 0, far more of them than the ring holds.
    std::string markers, pairs;
    for (int i = 0; i < 100000; ++i) {
        markers += "###PAYLOAD2:ab";
        pairs += "ab";
    }
    const struct {
        std::string capture, console, payload;
    } cases[] = {
        {std::string(1 << 20, '\0'), "", ""},
        {markers, pairs, pairs},
        // A length too long for its window is read from its first 7 characters.
        {"X\r\nLEN: 99999999999\r\n###PAYLOAD2:\r\nhello world", "hello world", "hello world"},
        // A negative length leaves a text payload its two characters of grace.
        {"X\r\nLEN: -5\r\n###PAYLOAD2:\r\nhello\r\n", "", ""},
        {"X\r\nLEN: -1\r\n###PAYLOAD2:\r\nhello\r\n", "h", "h"},
        // Negative and huge types read hexadecimal (without the binary notice,
        // which only type 8 gets); a huge binary count runs to the capture's end.
        {"X\r\nTYPE: -1 LEN: 2\r\n###PAYLOAD2:\r\n41 42\r\nX\r\nTYPE: 999999 LEN: 9\r\n###PAYLOAD2:\r\n41", "", ""},
        {"X\r\nTYPE: 8 LEN: 9999999\r\n###PAYLOAD2:\r\n41 42 43", "\r### <Bin data>\r\n", ""},
        // The notice after text that left the cursor inside a line starts a line of its own.
        {"X\r\nLEN: 3\r\n###PAYLOAD2:\r\nab\r\nX\r\nTYPE: 8 LEN: 1\r\n###PAYLOAD2:\r\n41\r\n",
         "ab\n\r\r\n\r### <Bin data>\r\n", "ab\r"},
    };
    for (const auto& c : cases) {
        const CaptureRun o = run_capture(c.capture);
        EXPECT_TRUE(o.result.out == counted(BANNER + c.console)) << c.capture.substr(0, 60);
        EXPECT_TRUE(o.payload == c.payload) << c.capture.substr(0, 60);
    }
}

}  // namespace
