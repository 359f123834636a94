// The modem simulator, driven through the serial layer as the live run
// drives a modem.
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>

#include "tests/serial/serial_test_support.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string file_contents(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const std::string& name, const std::string& data) {
    std::ofstream(name, std::ios::binary) << data;
}

bool exists(const char* path) {
    struct stat st {};
    return lstat(path, &st) == 0;
}

class ModemSimulator : public InTempDir {
protected:
    void TearDown() override {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
        InTempDir::TearDown();
    }

    // Starts the simulator; returns the first line it prints.
    std::string start(std::vector<std::string> args) {
        int out[2];
        EXPECT_EQ(pipe(out), 0);
        std::fflush(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            close(out[1]);
            std::vector<char*> argv{const_cast<char*>(MODEM_SIMULATOR), const_cast<char*>("--quiet")};
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(MODEM_SIMULATOR, argv.data());
            _exit(127);
        }
        close(out[1]);
        out_ = out[0];
        std::string line = read_for(out_, 1, 5000);
        while (!line.empty() && line.back() != '\n') {
            const std::string more = read_for(out_, 1, 1000);
            if (more.empty()) break;
            line += more;
        }
        return line;
    }

    // Exit status of the simulator, or -1 if it has not ended within `ms`.
    int ended_within(int ms) {
        for (int i = 0; i < ms / 5; ++i) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            usleep(5000);
        }
        return -1;
    }

    void send(const std::string& text) {
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(serial_handles[2], text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
        sent_ += text;
    }

    // Reads through the port until `count` bytes have come or `ms` passed.
    std::string receive(size_t count, int ms) {
        std::string got;
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        char buffer[4096];
        while (got.size() < count && Clock::now() < end) {
            DWORD n = 0;
            ReadFile(serial_handles[2], buffer, sizeof buffer - 1, &n, nullptr);
            got.append(buffer, n);
            if (n == 0) usleep(2000);
        }
        return got;
    }

    void open_port() {
        printed_by([] { ASSERT_EQ(open_serial_port(2, "8N1"), 0); });
    }

    pid_t pid_ = -1;
    int out_ = -1;
    std::string sent_;
};

std::string monitor_text(size_t size) {
    std::string text;
    while (text.size() < size) text += "LEN: 40 TYPE: 1 ###PAYLOAD2: some monitored text ###PAYLOAD_END\r\n";
    text.resize(size);
    return text;
}

TEST_F(ModemSimulator, AnswersCommandsSendsCaptureStopsAndRecordsAll) {
    const std::string capture = monitor_text(20000);
    write_file("capture.txt", capture);
    const std::string slave =
        start({"--link", "ttyS2", "--record", "received.bin", "--capture", "capture.txt", "--rate", "0"});
    ASSERT_FALSE(slave.empty());
    EXPECT_EQ(slave.rfind("/dev/", 0), 0u) << slave;
    ASSERT_TRUE(exists("ttyS2"));
    open_port();

    EXPECT_EQ(receive(1, 200), "") << "nothing is sent unasked";
    send("\rvelk mode 3\r");
    const std::string mode_reply = "velk mode 3\r\nOK\r\n";
    EXPECT_EQ(receive(mode_reply.size(), 2000), mode_reply);
    send("velk V 1\rvelk H 1\rvelk P 0\r");
    const std::string replies = "velk V 1\r\nOK\r\nvelk H 1\r\nOK\r\nvelk P 0\r\nOK\r\n";
    EXPECT_EQ(receive(replies.size(), 2000), replies);
    send("velk Start\r");
    const std::string start_reply = "velk Start\r\nOK\r\n";
    EXPECT_EQ(receive(start_reply.size() + capture.size(), 5000), start_reply + capture);
    send("velk Stop\r");
    EXPECT_EQ(ended_within(3000), 0);
    EXPECT_EQ(file_contents("received.bin"), sent_);
    EXPECT_FALSE(exists("ttyS2")) << "the link is removed at the end";
}

TEST_F(ModemSimulator, SendsAtLineRateAndPausesWhereAsked) {
    // 2304 characters take 200 ms at 11520 a second; the pause adds 600 ms.
    const std::string capture = monitor_text(2304);
    write_file("capture.txt", capture);
    start({"--link", "ttyS2", "--capture", "capture.txt", "--pause-after", "1000", "--pause-ms", "600"});
    open_port();
    send("velk Start\r");
    const std::string start_reply = "velk Start\r\nOK\r\n";
    ASSERT_EQ(receive(start_reply.size(), 2000), start_reply);

    const auto begin = Clock::now();
    auto last = begin;
    Clock::duration longest_gap{};
    std::string got;
    char buffer[4096];
    while (got.size() < capture.size() && Clock::now() - begin < std::chrono::seconds(5)) {
        DWORD n = 0;
        ReadFile(serial_handles[2], buffer, sizeof buffer - 1, &n, nullptr);
        if (n > 0) {
            const auto now = Clock::now();
            longest_gap = std::max(longest_gap, now - last);
            last = now;
            got.append(buffer, n);
        } else {
            usleep(2000);
        }
    }
    const auto took = Clock::now() - begin;
    EXPECT_EQ(got, capture);
    EXPECT_GE(took, std::chrono::milliseconds(700));
    EXPECT_LT(took, std::chrono::milliseconds(2500));
    EXPECT_GE(longest_gap, std::chrono::milliseconds(500));
    send("velk Stop\r");
    EXPECT_EQ(ended_within(3000), 0);
}

TEST_F(ModemSimulator, StopEndsSendingAtOnce) {
    // About nine seconds of text at the line rate.
    write_file("capture.txt", monitor_text(100000));
    start({"--link", "ttyS2", "--capture", "capture.txt", "--record", "received.bin"});
    open_port();
    send("velk Start\r");
    EXPECT_GT(receive(500, 2000).size(), 0u);
    send("velk Stop\r");
    EXPECT_EQ(ended_within(1000), 0);
    EXPECT_EQ(file_contents("received.bin"), "velk Start\rvelk Stop\r");
}

TEST_F(ModemSimulator, KeepRunningServesAnotherRun) {
    write_file("capture.txt", "LEN: 1 TYPE: 1\r\n");
    start({"--link", "ttyS2", "--capture", "capture.txt", "--rate", "0", "--keep-running"});
    for (int run = 0; run < 2; ++run) {
        open_port();
        send("velk Start\r");
        const std::string expected = "velk Start\r\nOK\r\nLEN: 1 TYPE: 1\r\n";
        // The previous run's stop reply is still waiting, as with a modem.
        const std::string stop_reply = run ? "velk Stop\r\nOK\r\n" : "";
        std::string got = receive(stop_reply.size() + expected.size(), 2000);
        EXPECT_EQ(got.substr(0, stop_reply.size()), stop_reply);
        got.erase(0, stop_reply.size());
        EXPECT_EQ(got, expected) << "run " << run;
        send("velk Stop\r");
        usleep(100000);
        CloseHandle(serial_handles[2]);
        serial_handles[2] = nullptr;
    }
    EXPECT_EQ(ended_within(200), -1) << "still serving";
}

TEST_F(ModemSimulator, EndsAtItsTimeLimitAndOnSignals) {
    start({"--link", "ttyS2", "--time-limit", "0.3"});
    EXPECT_EQ(ended_within(3000), 2);
    EXPECT_FALSE(exists("ttyS2"));

    start({"--link", "ttyS2"});
    ASSERT_TRUE(exists("ttyS2"));
    kill(pid_, SIGTERM);
    EXPECT_EQ(ended_within(3000), 3);
    EXPECT_FALSE(exists("ttyS2"));
}

TEST_F(ModemSimulator, RefusesToReplaceAFileThatIsNoLink) {
    write_file("ttyS2", "keep me");
    start({"--link", "ttyS2"});
    EXPECT_EQ(ended_within(3000), 1);
    EXPECT_EQ(file_contents("ttyS2"), "keep me");
}

}  // namespace
