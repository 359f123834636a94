// The stand-ins for the Windows configuration calls.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "platform/posix_dcb_termios.h"
#include "platform/windows_api.h"

namespace {

DCB fresh_dcb() {
    DCB dcb;
    std::memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    return dcb;
}

TEST(BuildCommDcb, RefusesWhatItDoesNotUnderstandAndLeavesTheDcb) {
    const char* refused[] = {
        "", "   ", "baud=115200 data=8 flow=x", "baud=fast", "baud=0", "baud=", "data=9", "parity=m",
        "parity=N", "stop=1.5", "xon=maybe", "dtr=hs", "baud 115200", "9600,n,8,1",
    };
    for (const char* text : refused) {
        DCB dcb = fresh_dcb();
        dcb.BaudRate = 1234;
        EXPECT_FALSE(BuildCommDCBA(text, &dcb)) << '"' << text << '"';
        EXPECT_EQ(dcb.BaudRate, 1234u) << text;
        EXPECT_EQ(dcb.fBinary, 0u) << text;
    }
    DCB dcb = fresh_dcb();
    EXPECT_FALSE(BuildCommDCBA(nullptr, &dcb));
    ASSERT_TRUE(BuildCommDCBA("  baud=9600 xon=on  dtr=off ", &dcb)) << "spaces between words are fine";
    termios tio{};
    ASSERT_FALSE(dcb_to_termios(dcb, tio)) << "no data bits given";
    dcb.ByteSize = 8;
    ASSERT_TRUE(dcb_to_termios(dcb, tio));
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
    EXPECT_EQ(cfgetospeed(&tio), B9600);
    EXPECT_EQ(dcb.fDtrControl, DTR_CONTROL_DISABLE);

    // Settings a terminal cannot take fail the state, not silently change.
    ASSERT_TRUE(BuildCommDCBA("baud=115200 data=8 parity=n stop=1", &dcb));
    for (auto spoil : {+[](DCB& d) { d.BaudRate = 115201; }, +[](DCB& d) { d.Parity = 3; },
                       +[](DCB& d) { d.StopBits = ONE5STOPBITS; }}) {
        DCB bad = dcb;
        spoil(bad);
        EXPECT_FALSE(dcb_to_termios(bad, tio));
    }
}

TEST(SleepStandIn, PausesForTheTimeAsked) {
    const auto start = std::chrono::steady_clock::now();
    Sleep(100);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(100));
    EXPECT_LT(took, std::chrono::milliseconds(1000));
}

}  // namespace
