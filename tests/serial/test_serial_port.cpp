// The serial layer where the live runs cannot look: the line settings a
// port gets, and a device that is no serial port.  Ports are
// pseudo-terminals offered as ./ttyS<n-1> (the test build's prefix) in a
// working directory of the test's own.
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>

#include "platform/posix_dcb_termios.h"
#include "serial/serial_port.h"
#include "tests/support/pty.h"
#include "tests/support/run_program.h"
#include "tests/support/stdout_capture.h"

namespace {

std::string open_line(int com) {
    return "\r\nOpen COM port " + std::to_string(com) +
           ": baud=115200 data=8 parity=n stop=1 xon=off to=off odsr=off dtr=on rts=on\r\n";
}

class SerialPort : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(getcwd(old_dir_, sizeof old_dir_), nullptr);
        ASSERT_EQ(chdir(dir_.path().c_str()), 0);
    }
    void TearDown() override {
        for (HANDLE& h : serial_handles) {
            if (h != nullptr && h != INVALID_HANDLE_VALUE) CloseHandle(h);
            h = nullptr;
        }
        ASSERT_EQ(chdir(old_dir_), 0);
    }
    // Opens port `index` as the live run does; returns what it printed.
    static std::string open_8n1(uint32_t index, int expected_status) {
        StdoutCapture out;
        EXPECT_EQ(open_serial_port(index, "8N1"), expected_status);
        return out.stop();
    }

    TempDir dir_;
    char old_dir_[PATH_MAX] = {};
};

TEST_F(SerialPort, LastPortOpensAsA115200BaudRawLineWithoutFlowControlWhoseReadsNeverWait) {
    Pty pty;
    ASSERT_EQ(symlink(pty.name.c_str(), "ttyS31"), 0);
    EXPECT_EQ(open_8n1(31, 0), open_line(32));

    termios tio{};
    ASSERT_EQ(tcgetattr(pty.slave, &tio), 0);
    EXPECT_EQ(cfgetispeed(&tio), B115200);
    EXPECT_EQ(cfgetospeed(&tio), B115200);
    EXPECT_EQ(tio.c_cflag & (CSTOPB | CRTSCTS | CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL), 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(tio.c_cc[VMIN], 0);
    EXPECT_EQ(tio.c_cc[VTIME], 0);
    // A pseudo-terminal forces 8 bits without parity, so the data format
    // is checked as the stand-in derives it from the configuration text.
    DCB dcb{};
    ASSERT_TRUE(BuildCommDCBA(serial_config, &dcb));
    ASSERT_TRUE(dcb_to_termios(dcb, tio));
    EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | CSTOPB), static_cast<tcflag_t>(CS8));
    EXPECT_EQ(dcb.fDtrControl + dcb.fRtsControl, 2u) << "DTR and RTS on";
}

TEST_F(SerialPort, DeviceThatIsNoSerialPortIsRefusedAfterItsConfigurationIsShown) {
    std::fclose(std::fopen("ttyS7", "w"));
    EXPECT_EQ(open_8n1(7, 1), open_line(8) + "unable to set comport cfg settings\n");
    serial_handles[7] = nullptr;  // already closed by the refusal
}

}  // namespace
