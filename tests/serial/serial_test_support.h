// Shared by the serial tests: a working directory of the test's own, where
// COMn is ./ttyS<n-1> (the test build's device prefix), pseudo-terminals
// offered there as ports, and captured console output.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include "serial/serial_port.h"

// The descriptor behind a handle of the POSIX stand-ins (descriptor + 1).
inline int fd_of_handle(HANDLE h) { return static_cast<int>(reinterpret_cast<intptr_t>(h) - 1); }

// A pseudo-terminal pair; the test keeps a slave descriptor of its own to
// look at the line settings and to keep the pair alive.
struct TestPty {
    int master = -1;
    int slave = -1;
    ~TestPty() {
        if (master >= 0) close(master);
        if (slave >= 0) close(slave);
    }
};

class InTempDir : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(getcwd(old_dir_, sizeof old_dir_), nullptr);
        const char* tmp = std::getenv("TMPDIR");
        dir_ = std::string(tmp && *tmp ? tmp : "/tmp") + "/velk_serial_XXXXXX";
        ASSERT_NE(mkdtemp(dir_.data()), nullptr);
        ASSERT_EQ(chdir(dir_.c_str()), 0);
        for (HANDLE& h : serial_handles) h = nullptr;
    }
    void TearDown() override {
        for (HANDLE& h : serial_handles) {
            if (h != nullptr && h != INVALID_HANDLE_VALUE) CloseHandle(h);
        }
        ASSERT_EQ(chdir(old_dir_), 0);
        ASSERT_EQ(std::system(("rm -rf '" + dir_ + "'").c_str()), 0);
    }
    // Offers a new pseudo-terminal as COM<com_number>.
    void offer_port(TestPty& pty, int com_number) {
        char name[256] = {};
        ASSERT_EQ(openpty(&pty.master, &pty.slave, name, nullptr, nullptr), 0);
        ASSERT_EQ(symlink(name, ("ttyS" + std::to_string(com_number - 1)).c_str()), 0);
    }
    std::string dir_;
    char old_dir_[PATH_MAX] = {};
};

// Runs `body` with standard output captured; returns what it printed.
template <typename Body>
std::string printed_by(Body body) {
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    body();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

// Reads from `fd` until `count` bytes have come or `ms` have passed.
inline std::string read_for(int fd, size_t count, int ms) {
    std::string got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (got.size() < count && std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        char buf[4096];
        if (poll(&p, 1, 10) <= 0) continue;
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;
        got.append(buf, static_cast<size_t>(n));
    }
    return got;
}
