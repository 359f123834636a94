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
    // Waits until the port holds at least `count` unread bytes.
    bool port_holds(int count) {
        for (int i = 0; i < 200; ++i) {
            int queued = 0;
            ioctl(pty_.slave, FIONREAD, &queued);
            if (queued >= count) return true;
            usleep(5000);
        }
        return false;
    }
    TestPty pty_;
};

TEST_F(SerialReads, ReadWithNothingArrivedReturnsAtOnceAndPrintsNothing) {
    const auto start = Clock::now();
    std::string out = printed_by([] {
        for (int i = 0; i < 20; ++i) read_and_echo(2);
    });
    EXPECT_EQ(out, "");
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));

    char buffer[16];
    DWORD count = 99;
    EXPECT_TRUE(ReadFile(serial_handles[2], buffer, sizeof buffer, &count, nullptr));
    EXPECT_EQ(count, 0u);
}

TEST_F(SerialReads, EchoPrintsEveryByteUnchanged) {
    std::string sent("LEN: 3\r\n\0\x01\xff\x80 end\n", 17);
    for (int i = 0; i < 256; ++i) sent += static_cast<char>(i);
    write_all(pty_.master, sent);
    ASSERT_TRUE(port_holds(static_cast<int>(sent.size())));
    EXPECT_EQ(printed_by([] { read_and_echo(2); }), sent);
    EXPECT_EQ(printed_by([] { read_and_echo(2); }), "");
}

TEST_F(SerialReads, BurstArrivesWholeOverReadsOfAtMost4095Bytes) {
    std::string sent;
    for (int i = 0; i < 9000; ++i) sent += static_cast<char>('a' + i % 26);
    write_all(pty_.master, sent);
    std::string echoed;
    for (int i = 0; i < 400 && echoed.size() < sent.size(); ++i) {
        const std::string once = printed_by([] { read_and_echo(2); });
        EXPECT_LE(once.size(), 4095u);
        echoed += once;
        if (once.empty()) usleep(5000);
    }
    EXPECT_EQ(echoed, sent);
}

TEST_F(SerialReads, WritesReachTheOtherSideUnchanged) {
    const std::string command = "\rvelk mode 3\r";
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(serial_handles[2], command.data(), static_cast<DWORD>(command.size()), &written, nullptr));
    EXPECT_EQ(written, command.size());
    EXPECT_EQ(read_for(pty_.master, command.size(), 2000), command);  // no CR translation
}

TEST_F(SerialReads, VanishedPortReadsNothingAndWritesFailQuietly) {
    close(pty_.slave);
    pty_.slave = -1;
    pty_.close_master();
    const auto start = Clock::now();
    EXPECT_EQ(printed_by([] {
                  for (int i = 0; i < 20; ++i) read_and_echo(2);
              }),
              "");
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(500));

    char buffer[16];
    DWORD count = 99;
    ReadFile(serial_handles[2], buffer, sizeof buffer, &count, nullptr);
    EXPECT_EQ(count, 0u);

    // A terminal whose other side is gone fails the write; the process
    // must not be ended by a signal.
    std::signal(SIGPIPE, SIG_DFL);
    DWORD written = 77;
    EXPECT_FALSE(WriteFile(serial_handles[2], "velk Stop\r", 10, &written, nullptr));
    EXPECT_LT(written, 10u);
}

TEST_F(SerialReads, EchoOfAnIndexOutsideTheTableReadsNothing) {
    write_all(pty_.master, "pending");
    ASSERT_TRUE(port_holds(7));
    EXPECT_EQ(printed_by([] { read_and_echo(32); }), "");
    EXPECT_EQ(printed_by([] { read_and_echo(2); }), "pending");
}

TEST_F(SerialReads, TimeoutsWithoutTerminalEquivalentAreRefused) {
    const COMMTIMEOUTS refused[] = {
        {10, 0, 0, 0, 0},
        {MAXDWORD, 1, 0, 0, 0},
        {MAXDWORD, 0, 100, 0, 0},
        {MAXDWORD, 0, 0, 0, 50},
    };
    for (COMMTIMEOUTS t : refused) EXPECT_FALSE(SetCommTimeouts(serial_handles[2], &t));
    COMMTIMEOUTS at_once{MAXDWORD, 0, 0, 0, 0};
    EXPECT_TRUE(SetCommTimeouts(serial_handles[2], &at_once));
}

}  // namespace
