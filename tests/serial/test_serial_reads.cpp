#include <chrono>
#include <csignal>
#include <string>

#include <sys/ioctl.h>

#include "tests/serial/serial_test_support.h"

namespace {

using Clock = std::chrono::steady_clock;

class SerialReads : public InTempDir {
protected:
    void SetUp() override {
        InTempDir::SetUp();
        offer_port(pty_, 3);
        printed_by([] { ASSERT_EQ(open_serial_port(2, "8N1"), 0); });
    }
    // Echoes until `count` bytes have come or half a second has passed.
    std::string echo(size_t count) {
        std::string out;
        for (int i = 0; i < 100 && out.size() < count; ++i) {
            const std::string once = printed_by([] { read_and_echo(2); });
            EXPECT_LE(once.size(), 4095u);
            out += once;
            if (once.empty()) usleep(5000);
        }
        return out;
    }
    TestPty pty_;
};

TEST_F(SerialReads, NothingArrivedReturnsAtOnceAndPrintsNothing) {
    const auto start = Clock::now();
    EXPECT_EQ(printed_by([] {
                  for (int i = 0; i < 20; ++i) read_and_echo(2);
              }),
              "");
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
}

TEST_F(SerialReads, BytesPassUnchangedBothWays) {
    std::string sent("LEN: 3\r\n\0\x01\xff end\n", 16);
    for (int i = 0; i < 9000; ++i) sent += static_cast<char>(i);
    ASSERT_EQ(write(pty_.master, sent.data(), sent.size()), static_cast<ssize_t>(sent.size()));
    EXPECT_EQ(echo(sent.size()), sent);  // several reads of at most 4095

    const std::string command = "\rvelk mode 3\r";
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(serial_handles[2], command.data(), static_cast<DWORD>(command.size()), &written, nullptr));
    EXPECT_EQ(written, command.size());
    EXPECT_EQ(read_for(pty_.master, command.size(), 2000), command);

    ASSERT_EQ(write(pty_.master, "pending", 7), 7);
    EXPECT_EQ(printed_by([] { read_and_echo(32); }), "") << "an index outside the table reads nothing";
    EXPECT_EQ(echo(7), "pending");
}

TEST_F(SerialReads, VanishedPortReadsNothingAndWritesFailWithoutSignal) {
    close(pty_.slave);
    close(pty_.master);
    pty_.slave = pty_.master = -1;
    const auto start = Clock::now();
    EXPECT_EQ(printed_by([] {
                  for (int i = 0; i < 20; ++i) read_and_echo(2);
              }),
              "");
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));
    std::signal(SIGPIPE, SIG_DFL);
    DWORD written = 77;
    EXPECT_FALSE(WriteFile(serial_handles[2], "velk Stop\r", 10, &written, nullptr));
    EXPECT_LT(written, 10u);
}

}  // namespace
