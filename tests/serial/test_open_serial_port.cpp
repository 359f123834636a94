#include <cstring>
#include <string>

#include <sys/stat.h>
#include <sys/wait.h>

#include "platform/posix_dcb_termios.h"
#include "tests/serial/serial_test_support.h"

namespace {

const std::string CONFIG_8N1 = "baud=115200 data=8 parity=n stop=1 xon=off to=off odsr=off dtr=on rts=on";

std::string open_line(int com_number, const std::string& config) {
    return "\r\nOpen COM port " + std::to_string(com_number) + ": " + config + "\r\n";
}

using OpenSerialPort = InTempDir;

TEST_F(OpenSerialPort, RefusesIndexOutsideTableBeforeAnythingElse) {
    std::strcpy(serial_config, "untouched");
    for (uint32_t index : {32u, static_cast<uint32_t>(-1), 1000u}) {
        int result = 0;
        EXPECT_EQ(printed_by([&] { result = open_serial_port(index, "8N1"); }), "illegal comport number\n");
        EXPECT_EQ(result, 1);
    }
    EXPECT_STREQ(serial_config, "untouched");
}

TEST_F(OpenSerialPort, RefusesBadModeTextsBeforeOpeningAnything) {
    TestPty pty;
    offer_port(pty, 1);
    const struct {
        const char* mode;
        const char* message;
    } cases[] = {
        {"8N", "invalid mode \"8N\"\n"},
        {"", "invalid mode \"\"\n"},
        {"8N1 ", "invalid mode \"8N1 \"\n"},
        {"9N1", "invalid number of data-bits '9'\n"},
        {"4N1", "invalid number of data-bits '4'\n"},
        {"8X1", "invalid parity 'X'\n"},
        {"8M1", "invalid parity 'M'\n"},
        {"8N3", "invalid number of stop bits '3'\n"},
        {"8N0", "invalid number of stop bits '0'\n"},
    };
    for (const auto& c : cases) {
        int result = 0;
        EXPECT_EQ(printed_by([&] { result = open_serial_port(0, c.mode); }), c.message) << c.mode;
        EXPECT_EQ(result, 1);
        EXPECT_EQ(serial_handles[0], nullptr) << "nothing may be opened for " << c.mode;
    }
    int result = 0;
    EXPECT_EQ(printed_by([&] { result = open_serial_port(0, nullptr); }), "invalid mode \"\"\n");
    EXPECT_EQ(result, 1);
}

TEST_F(OpenSerialPort, ModeTextSetsConfigurationWhicheverLetterCase) {
    // The port does not exist: the configuration line is printed anyway.
    const struct {
        const char* mode;
        std::string config;
    } cases[] = {
        {"8N1", CONFIG_8N1},
        {"8n1", CONFIG_8N1},
        {"7E2", "baud=115200 data=7 parity=e stop=2 xon=off to=off odsr=off dtr=on rts=on"},
        {"5o1", "baud=115200 data=5 parity=o stop=1 xon=off to=off odsr=off dtr=on rts=on"},
        {"6e1", "baud=115200 data=6 parity=e stop=1 xon=off to=off odsr=off dtr=on rts=on"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(printed_by([&] { open_serial_port(4, c.mode); }), open_line(5, c.config) + "unable to open comport\n");
        EXPECT_EQ(serial_config, c.config);
    }
    EXPECT_EQ(std::strlen(serial_config), 72u);
}

TEST_F(OpenSerialPort, MissingPortIsReportedAndItsEntryHoldsTheFailure) {
    int result = 0;
    EXPECT_EQ(printed_by([&] { result = open_serial_port(2, "8N1"); }),
              open_line(3, CONFIG_8N1) + "unable to open comport\n");
    EXPECT_EQ(result, 1);
    EXPECT_EQ(serial_handles[2], INVALID_HANDLE_VALUE);
}

TEST_F(OpenSerialPort, DeviceNamesFollowThePrefixCountingFromZero) {
    EXPECT_STREQ(serial_device_names[0], "ttyS0");
    EXPECT_STREQ(serial_device_names[2], "ttyS2");
    EXPECT_STREQ(serial_device_names[31], "ttyS31");
}

TEST_F(OpenSerialPort, OpensLastPortAndConfiguresTheLine) {
    TestPty pty;
    offer_port(pty, 32);
    int result = 1;
    EXPECT_EQ(printed_by([&] { result = open_serial_port(31, "8N1"); }), open_line(32, CONFIG_8N1));
    ASSERT_EQ(result, 0);
    ASSERT_NE(serial_handles[31], INVALID_HANDLE_VALUE);

    termios tio{};
    ASSERT_EQ(tcgetattr(pty.slave, &tio), 0);
    EXPECT_EQ(cfgetispeed(&tio), B115200);
    EXPECT_EQ(cfgetospeed(&tio), B115200);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(tio.c_cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL | INPCK), 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(tio.c_cc[VMIN], 0);  // reads return at once
    EXPECT_EQ(tio.c_cc[VTIME], 0);
}

TEST_F(OpenSerialPort, DataFormatOfModeReachesTheLineSettings) {
    // Pseudo-terminals force 8 bits without parity, so the settings are
    // checked as the stand-in derives them from the configuration text.
    const struct {
        const char* mode;
        tcflag_t size, flags;
    } cases[] = {
        {"8N1", CS8, 0},
        {"7E2", CS7, PARENB | CSTOPB},
        {"5o1", CS5, PARENB | PARODD},
        {"6n2", CS6, CSTOPB},
    };
    for (const auto& c : cases) {
        printed_by([&] { open_serial_port(9, c.mode); });
        DCB dcb;
        std::memset(&dcb, 0, sizeof dcb);
        dcb.DCBlength = sizeof dcb;
        ASSERT_TRUE(BuildCommDCBA(serial_config, &dcb)) << c.mode;
        termios tio{};
        ASSERT_TRUE(dcb_to_termios(dcb, tio)) << c.mode;
        EXPECT_EQ(cfgetospeed(&tio), B115200) << c.mode;
        EXPECT_EQ(tio.c_cflag & CSIZE, c.size) << c.mode;
        EXPECT_EQ(tio.c_cflag & (PARENB | PARODD | CSTOPB), c.flags) << c.mode;
        EXPECT_EQ((tio.c_iflag & INPCK) != 0, (c.flags & PARENB) != 0) << c.mode;
        EXPECT_EQ(tio.c_cflag & CRTSCTS, 0u) << c.mode;
        EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), 0u) << c.mode;
    }
}

TEST_F(OpenSerialPort, PortHeldByThisProcessCannotBeOpenedAgain) {
    TestPty pty;
    offer_port(pty, 4);
    printed_by([&] { ASSERT_EQ(open_serial_port(3, "8N1"), 0); });
    const HANDLE first = serial_handles[3];
    int result = 0;
    EXPECT_EQ(printed_by([&] { result = open_serial_port(3, "8N1"); }),
              open_line(4, CONFIG_8N1) + "unable to open comport\n");
    EXPECT_EQ(result, 1);
    CloseHandle(first);
    // Once closed, the port is free again.
    printed_by([&] { EXPECT_EQ(open_serial_port(3, "8N1"), 0); });
}

TEST_F(OpenSerialPort, PortHeldByAnotherProcessIsFreeOnlyWhenItEnds) {
    TestPty pty;
    offer_port(pty, 6);
    int ready[2], release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    std::fflush(nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const HANDLE h = CreateFileA("ttyS5", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        const char ok = h != INVALID_HANDLE_VALUE ? 'y' : 'n';
        (void)!write(ready[1], &ok, 1);
        char byte;
        (void)!read(release[0], &byte, 1);
        std::exit(0);  // no close: the end of the process releases the port
    }
    char ok = 0;
    ASSERT_EQ(read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, 'y');
    EXPECT_EQ(printed_by([] { EXPECT_EQ(open_serial_port(5, "8N1"), 1); }),
              open_line(6, CONFIG_8N1) + "unable to open comport\n");
    ASSERT_EQ(write(release[1], "x", 1), 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    printed_by([] { EXPECT_EQ(open_serial_port(5, "8N1"), 0); });
    for (int fd : {ready[0], ready[1], release[0], release[1]}) close(fd);
}

TEST_F(OpenSerialPort, DeviceThatIsNoSerialPortFailsConfigurationAndIsClosed) {
    {
        std::FILE* f = std::fopen("ttyS7", "w");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
    }
    int result = 0;
    EXPECT_EQ(printed_by([&] { result = open_serial_port(7, "8N1"); }),
              open_line(8, CONFIG_8N1) + "unable to set comport cfg settings\n");
    EXPECT_EQ(result, 1);
    // The entry keeps the closed handle; its descriptor is gone.
    EXPECT_EQ(fcntl(fd_of_handle(serial_handles[7]), F_GETFD), -1);
    serial_handles[7] = nullptr;

    ASSERT_EQ(mkdir("ttyS8", 0755), 0);
    EXPECT_EQ(printed_by([&] { result = open_serial_port(8, "8N1"); }),
              open_line(9, CONFIG_8N1) + "unable to open comport\n");
    EXPECT_EQ(result, 1);
}

}  // namespace
