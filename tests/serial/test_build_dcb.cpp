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

TEST(BuildCommDcb, FillsTheSettingsOfTheSerialText) {
    DCB dcb = fresh_dcb();
    ASSERT_TRUE(BuildCommDCBA("baud=115200 data=8 parity=n stop=1 xon=off to=off odsr=off dtr=on rts=on", &dcb));
    EXPECT_EQ(dcb.DCBlength, sizeof dcb);
    EXPECT_EQ(dcb.BaudRate, 115200u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(dcb.fBinary, 1u);
    EXPECT_EQ(dcb.fParity, 0u);
    EXPECT_EQ(dcb.fOutX, 0u);
    EXPECT_EQ(dcb.fInX, 0u);
    EXPECT_EQ(dcb.fOutxDsrFlow, 0u);
    EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
    EXPECT_EQ(dcb.fDtrControl, DTR_CONTROL_ENABLE);
    EXPECT_EQ(dcb.fRtsControl, RTS_CONTROL_ENABLE);

    ASSERT_TRUE(BuildCommDCBA("baud=9600 data=7 parity=o stop=2 xon=on odsr=on dtr=off rts=off", &dcb));
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_EQ(dcb.ByteSize, 7);
    EXPECT_EQ(dcb.Parity, ODDPARITY);
    EXPECT_EQ(dcb.fParity, 1u);
    EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
    EXPECT_EQ(dcb.fOutX, 1u);
    EXPECT_EQ(dcb.fInX, 1u);
    EXPECT_EQ(dcb.fOutxDsrFlow, 1u);
    EXPECT_EQ(dcb.fDtrControl, DTR_CONTROL_DISABLE);
    EXPECT_EQ(dcb.fRtsControl, RTS_CONTROL_DISABLE);
}

TEST(BuildCommDcb, RefusesWhatItDoesNotUnderstandAndLeavesTheDcb) {
    const char* refused[] = {
        "",
        "   ",
        "baud=115200 data=8 parity=n stop=1 xon=off to=off odsr=off dtr=on rts=on flow=x",
        "baud=fast",
        "baud=0",
        "baud=1152000000",
        "baud=",
        "data=9",
        "data=88",
        "parity=m",
        "parity=N",
        "stop=1.5",
        "xon=maybe",
        "dtr=hs",
        "rts=tg",
        "baud 115200",
        "COM1: baud=115200",
        "9600,n,8,1",
    };
    for (const char* text : refused) {
        DCB dcb = fresh_dcb();
        dcb.BaudRate = 1234;
        dcb.ByteSize = 6;
        EXPECT_FALSE(BuildCommDCBA(text, &dcb)) << '"' << text << '"';
        EXPECT_EQ(dcb.BaudRate, 1234u) << text;
        EXPECT_EQ(dcb.ByteSize, 6) << text;
        EXPECT_EQ(dcb.fBinary, 0u) << text;
    }
    DCB dcb = fresh_dcb();
    EXPECT_FALSE(BuildCommDCBA(nullptr, &dcb));
    EXPECT_FALSE(BuildCommDCBA("baud=115200", nullptr));
    EXPECT_TRUE(BuildCommDCBA("  baud=115200  data=8 ", &dcb));
}

TEST(CommCalls, RefuseHandlesThatNameNoOpenDevice) {
    DCB dcb = fresh_dcb();
    ASSERT_TRUE(BuildCommDCBA("baud=115200 data=8 parity=n stop=1", &dcb));
    COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 0};
    char buffer[8];
    DWORD count = 5;
    for (HANDLE h : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE}) {
        EXPECT_FALSE(SetCommState(h, &dcb));
        EXPECT_FALSE(SetCommTimeouts(h, &timeouts));
        EXPECT_FALSE(ReadFile(h, buffer, sizeof buffer, &count, nullptr));
        EXPECT_EQ(count, 0u);
        EXPECT_FALSE(WriteFile(h, "x", 1, &count, nullptr));
        EXPECT_FALSE(CloseHandle(h));
    }
    EXPECT_EQ(CreateFileA("/nonexistent/ttyS0", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
}

TEST(SleepStandIn, PausesForTheTimeAsked) {
    const auto start = std::chrono::steady_clock::now();
    Sleep(100);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(100));
    EXPECT_LT(took, std::chrono::milliseconds(1000));
}

}  // namespace

namespace {

TEST(DcbToTermios, RefusesSettingsWithoutTerminalEquivalent) {
    DCB dcb = fresh_dcb();
    ASSERT_TRUE(BuildCommDCBA("baud=115200 data=8 parity=n stop=1", &dcb));
    termios tio{};
    ASSERT_TRUE(dcb_to_termios(dcb, tio));

    DCB odd_speed = dcb;
    odd_speed.BaudRate = 115201;
    EXPECT_FALSE(dcb_to_termios(odd_speed, tio));
    DCB no_size = dcb;
    no_size.ByteSize = 0;
    EXPECT_FALSE(dcb_to_termios(no_size, tio));
    DCB mark = dcb;
    mark.Parity = 3;
    EXPECT_FALSE(dcb_to_termios(mark, tio));
    DCB one_and_half = dcb;
    one_and_half.StopBits = ONE5STOPBITS;
    EXPECT_FALSE(dcb_to_termios(one_and_half, tio));
}

TEST(DcbToTermios, FlowControlFollowsTheDcb) {
    DCB dcb = fresh_dcb();
    ASSERT_TRUE(BuildCommDCBA("baud=9600 data=8 parity=n stop=1 xon=on", &dcb));
    termios tio{};
    ASSERT_TRUE(dcb_to_termios(dcb, tio));
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
    EXPECT_EQ(cfgetispeed(&tio), B9600);
    dcb.fOutxCtsFlow = 1;
    ASSERT_TRUE(dcb_to_termios(dcb, tio));
    EXPECT_NE(tio.c_cflag & CRTSCTS, 0u);
}

}  // namespace
