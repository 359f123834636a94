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

TEST_F(OpenSerialPort, RefusesIndexAndModeBeforePrintingOrOpeningAnything) {
    std::strcpy(serial_config, "untouched");
    for (uint32_t index : {32u, static_cast<uint32_t>(-1)}) {
        EXPECT_EQ(printed_by([&] { EXPECT_EQ(open_serial_port(index, "8N1"), 1); }), "illegal comport number\n");
    }
    EXPECT_STREQ(serial_config, "untouched");

    TestPty pty;
    offer_port(pty, 1);
    const struct {
        const char* mode;
        const char* message;
    } cases[] = {
        {"8N", "invalid mode \"8N\"\n"},         {"", "invalid mode \"\"\n"},
        {"8N1 ", "invalid mode \"8N1 \"\n"},     {nullptr, "invalid mode \"\"\n"},
        {"9N1", "invalid number of data-bits '9'\n"}, {"4N1", "invalid number of data-bits '4'\n"},
        {"8X1", "invalid parity 'X'\n"},         {"8N3", "invalid number of stop bits '3'\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(printed_by([&] { EXPECT_EQ(open_serial_port(0, c.mode), 1); }), c.message);
        EXPECT_EQ(serial_handles[0], nullptr) << "nothing may be opened for " << c.message;
    }
}

TEST_F(OpenSerialPort, MissingPortPrintsItsConfigurationThenFails) {
    const struct {
        const char* mode;
        std::string config;
        tcflag_t size, flags;  // what the stand-in makes of the text
    } cases[] = {
        {"8N1", CONFIG_8N1, CS8, 0},
        {"8n1", CONFIG_8N1, CS8, 0},
        {"7E2", "baud=115200 data=7 parity=e stop=2 xon=off to=off odsr=off dtr=on rts=on", CS7, PARENB | CSTOPB},
        {"5o1", "baud=115200 data=5 parity=o stop=1 xon=off to=off odsr=off dtr=on rts=on", CS5, PARENB | PARODD},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(printed_by([&] { EXPECT_EQ(open_serial_port(4, c.mode), 1); }),
                  open_line(5, c.config) + "unable to open comport\n");
        EXPECT_EQ(serial_config, c.config);
        EXPECT_EQ(serial_handles[4], INVALID_HANDLE_VALUE);

        // Pseudo-terminals force 8 bits without parity, so the data format
        // is checked as the stand-in derives it from the text.
        DCB dcb;
        std::memset(&dcb, 0, sizeof dcb);
        ASSERT_TRUE(BuildCommDCBA(serial_config, &dcb));
        EXPECT_EQ(dcb.fDtrControl + dcb.fRtsControl, 2) << "DTR and RTS on";
        EXPECT_EQ(dcb.fOutX | dcb.fInX | dcb.fOutxDsrFlow | dcb.fOutxCtsFlow, 0) << "no flow control";
        termios tio{};
        ASSERT_TRUE(dcb_to_termios(dcb, tio));
        EXPECT_EQ(tio.c_cflag & CSIZE, c.size) << c.mode;
        EXPECT_EQ(tio.c_cflag & (PARENB | PARODD | CSTOPB | CRTSCTS), c.flags) << c.mode;
        EXPECT_EQ((tio.c_iflag & INPCK) != 0, (c.flags & PARENB) != 0) << c.mode;
    }
}

TEST_F(OpenSerialPort, OpensLastPortAsRawLineWithReadsThatDoNotWait) {
    EXPECT_STREQ(serial_device_names[0], "ttyS0");
    EXPECT_STREQ(serial_device_names[31], "ttyS31");
    TestPty pty;
    offer_port(pty, 32);
    EXPECT_EQ(printed_by([&] { EXPECT_EQ(open_serial_port(31, "8N1"), 0); }), open_line(32, CONFIG_8N1));

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
        (void)!write(ready[1], h != INVALID_HANDLE_VALUE ? "y" : "n", 1);
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
    ASSERT_EQ(waitpid(child, nullptr, 0), child);
    printed_by([] { EXPECT_EQ(open_serial_port(5, "8N1"), 0); });
    // Within one process too, a second open of a held port fails.
    EXPECT_EQ(CreateFileA("ttyS5", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    for (int fd : {ready[0], ready[1], release[0], release[1]}) close(fd);
}

TEST_F(OpenSerialPort, DeviceThatIsNoSerialPortFailsConfigurationAndIsClosed) {
    std::fclose(std::fopen("ttyS7", "w"));
    EXPECT_EQ(printed_by([] { EXPECT_EQ(open_serial_port(7, "8N1"), 1); }),
              open_line(8, CONFIG_8N1) + "unable to set comport cfg settings\n");
    // The entry keeps the closed handle; its descriptor is gone.
    EXPECT_EQ(fcntl(fd_of_handle(serial_handles[7]), F_GETFD), -1);
    serial_handles[7] = nullptr;
}

}  // namespace
