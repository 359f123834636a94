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
    std::stringstream s;
    s << std::ifstream(name, std::ios::binary).rdbuf();
    return s.str();
}

bool exists(const char* path) {
    struct stat st {};
    return lstat(path, &st) == 0;
}

std::string monitor_text(size_t size) {
    std::string text;
    while (text.size() < size) text += "LEN: 40 TYPE: 1 ###PAYLOAD2: some monitored text ###PAYLOAD_END\r\n";
    text.resize(size);
    std::ofstream("capture.txt", std::ios::binary) << text;
    return text;
}

class ModemSimulator : public InTempDir {
protected:
    void TearDown() override {
        if (pid_ > 0) kill(pid_, SIGKILL), waitpid(pid_, nullptr, 0);
        InTempDir::TearDown();
    }

    // Starts the simulator offering COM3, and opens that port unless asked not to.
    void start(std::vector<std::string> args, bool open = true) {
        std::fflush(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            std::vector<char*> argv{const_cast<char*>(MODEM_SIMULATOR), const_cast<char*>("--quiet"),
                                    const_cast<char*>("--link"), const_cast<char*>("ttyS2")};
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(MODEM_SIMULATOR, argv.data());
            _exit(127);
        }
        for (int i = 0; i < 500 && !exists("ttyS2"); ++i) usleep(2000);
        if (open) printed_by([] { ASSERT_EQ(open_serial_port(2, "8N1"), 0); });
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
        WriteFile(serial_handles[2], text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        sent_ += text;
    }

    // Reads through the port until `count` bytes have come or `ms` passed,
    // noting the longest wait between two arrivals.
    std::string receive(size_t count, int ms) {
        std::string got;
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        auto last = Clock::now();
        char buffer[4096];
        while (got.size() < count && Clock::now() < end) {
            DWORD n = 0;
            ReadFile(serial_handles[2], buffer, sizeof buffer - 1, &n, nullptr);
            if (n == 0) {
                usleep(2000);
                continue;
            }
            longest_gap_ = std::max(longest_gap_, Clock::now() - last);
            last = Clock::now();
            got.append(buffer, n);
        }
        return got;
    }

    pid_t pid_ = -1;
    std::string sent_;
    Clock::duration longest_gap_{};
};

TEST_F(ModemSimulator, AnswersCommandsSendsAtLineRateWithPauseStopsAndRecordsAll) {
    // 2304 characters take 200 ms at 11520 a second; the pause adds 600 ms.
    const std::string capture = monitor_text(100000);
    start({"--record", "received.bin", "--capture", "capture.txt", "--pause-after", "1000", "--pause-ms", "600"});
    EXPECT_EQ(receive(1, 200), "") << "nothing is sent unasked";
    send("\rvelk mode 3\r");
    EXPECT_EQ(receive(17, 2000), "velk mode 3\r\nOK\r\n");
    send("velk V 1\rvelk H 1\rvelk P 0\r");
    EXPECT_EQ(receive(42, 2000), "velk V 1\r\nOK\r\nvelk H 1\r\nOK\r\nvelk P 0\r\nOK\r\n");
    send("velk Start\r");
    ASSERT_EQ(receive(16, 2000), "velk Start\r\nOK\r\n");
    const auto begin = Clock::now();
    longest_gap_ = {};
    EXPECT_EQ(receive(2304, 5000).substr(0, 2304), capture.substr(0, 2304));
    const auto took = Clock::now() - begin;
    EXPECT_GE(took, std::chrono::milliseconds(700));
    EXPECT_LT(took, std::chrono::milliseconds(2500));
    EXPECT_GE(longest_gap_, std::chrono::milliseconds(500));

    send("velk Stop\r");
    EXPECT_EQ(ended_within(1000), 0) << "long before the rest of the capture";
    EXPECT_EQ(file_contents("received.bin"), sent_);
    EXPECT_FALSE(exists("ttyS2")) << "the link is removed at the end";
}

}  // namespace
