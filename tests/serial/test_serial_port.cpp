// The serial layer and the POSIX stand-ins under it, against pseudo-terminals
// offered as ports.
#include <chrono>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <poll.h>

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

    offer_port(1);
    const char* const cases[][2] = {
        {"8N", "invalid mode \"8N\"\n"},         {"", "invalid mode \"\"\n"},
        {"8N1 ", "invalid mode \"8N1 \"\n"},     {nullptr, "invalid mode \"\"\n"},
        {"9N1", "invalid number of data-bits '9'\n"}, {"4N1", "invalid number of data-bits '4'\n"},
        {"8X1", "invalid parity 'X'\n"},         {"8N3", "invalid number of stop bits '3'\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(printed_by([&] { EXPECT_EQ(open_serial_port(0, c[0]), 1); }), c[1]);
        EXPECT_EQ(serial_handles[0], nullptr) << "nothing may be opened for " << c[1];
    }
}

TEST_F(OpenSerialPort, MissingPortPrintsItsConfigurationThenFails) {
    const struct {
        const char* mode;
        std::string config;
        tcflag_t size, flags;  // what the stand-in makes of the text
    } cases[] = {
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
        DCB dcb{};
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
    offer_port(32);
    EXPECT_EQ(printed_by([&] { EXPECT_EQ(open_serial_port(31, "8N1"), 0); }), open_line(32, CONFIG_8N1));

    termios tio{};
    ASSERT_EQ(tcgetattr(slave_, &tio), 0);
    EXPECT_EQ(cfgetispeed(&tio), B115200);
    EXPECT_EQ(cfgetospeed(&tio), B115200);
    EXPECT_EQ(tio.c_cflag & (CSTOPB | CRTSCTS | CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL), 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(tio.c_cc[VMIN], 0);
    EXPECT_EQ(tio.c_cc[VTIME], 0);
}

TEST_F(OpenSerialPort, DeviceThatIsNoSerialPortFailsConfigurationAndIsClosed) {
    std::fclose(std::fopen("ttyS7", "w"));
    EXPECT_EQ(printed_by([] { EXPECT_EQ(open_serial_port(7, "8N1"), 1); }),
              open_line(8, CONFIG_8N1) + "unable to set comport cfg settings\n");
    // The entry keeps the closed handle (descriptor + 1); its descriptor is gone.
    EXPECT_EQ(fcntl(static_cast<int>(reinterpret_cast<intptr_t>(serial_handles[7]) - 1), F_GETFD), -1);
    serial_handles[7] = nullptr;
}

TEST_F(OpenSerialPort, ReadsReturnAtOnceAndPassBytesUnchangedBothWays) {
    offer_port(3);
    printed_by([] { ASSERT_EQ(open_serial_port(2, "8N1"), 0); });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(printed_by([] {
                  for (int i = 0; i < 20; ++i) read_and_echo(2);
              }),
              "");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));

    // Echoes until `count` bytes have come or half a second has passed.
    const auto echo = [](size_t count) {
        std::string out;
        for (int i = 0; i < 100 && out.size() < count; ++i) {
            const std::string once = printed_by([] { read_and_echo(2); });
            EXPECT_LE(once.size(), 4095u);
            out += once;
            if (once.empty()) usleep(5000);
        }
        return out;
    };
    std::string sent("LEN: 3\r\n\0\x01\xff end\n", 16);
    for (int i = 0; i < 9000; ++i) sent += static_cast<char>(i);
    ASSERT_EQ(write(master_, sent.data(), sent.size()), static_cast<ssize_t>(sent.size()));
    EXPECT_EQ(echo(sent.size()), sent);  // several reads of at most 4095

    const std::string command = "\rvelk mode 3\r";
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(serial_handles[2], command.data(), static_cast<DWORD>(command.size()), &written, nullptr));
    EXPECT_EQ(written, command.size());
    std::string arrived(64, '\0');
    pollfd p{master_, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 2000), 1);
    arrived.resize(static_cast<size_t>(read(master_, arrived.data(), arrived.size())));
    EXPECT_EQ(arrived, command);

    ASSERT_EQ(write(master_, "pending", 7), 7);
    EXPECT_EQ(printed_by([] { read_and_echo(32); }), "") << "an index outside the table reads nothing";
    EXPECT_EQ(echo(7), "pending");
}

TEST(BuildCommDcb, RefusesWhatItDoesNotUnderstandAndLeavesTheDcb) {
    for (const char* text : {"", "   ", "baud=115200 data=8 flow=x", "baud=fast", "baud=0", "baud=", "data=9",
                             "parity=m", "parity=N", "stop=1.5", "xon=maybe", "dtr=hs", "baud 115200", "9600,n,8,1"}) {
        DCB dcb{};
        dcb.BaudRate = 1234;
        EXPECT_FALSE(BuildCommDCBA(text, &dcb)) << '"' << text << '"';
        EXPECT_EQ(dcb.BaudRate, 1234u) << text;
        EXPECT_EQ(dcb.fBinary, 0u) << text;
    }
    DCB dcb{};
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

}  // namespace
