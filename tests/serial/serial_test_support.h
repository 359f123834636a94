// Shared by the serial tests: a working directory of the test's own, where
// COMn is ./ttyS<n-1> (the test build's device prefix), pseudo-terminals
// offered there as ports, and captured console output.
#pragma once

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include "serial/serial_port.h"
#include "tests/support/run_program.h"

class InTempDir : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(getcwd(old_dir_, sizeof old_dir_), nullptr);
        ASSERT_EQ(chdir(dir_.path().c_str()), 0);
        for (HANDLE& h : serial_handles) h = nullptr;
    }
    void TearDown() override {
        for (HANDLE h : serial_handles) {
            if (h != nullptr && h != INVALID_HANDLE_VALUE) CloseHandle(h);
        }
        for (int fd : {master_, slave_}) {
            if (fd >= 0) close(fd);
        }
        ASSERT_EQ(chdir(old_dir_), 0);
    }
    // Offers a new pseudo-terminal as COM<com>; the test keeps the slave
    // open to look at the line settings the port got.
    void offer_port(int com) {
        char name[256] = {};
        ASSERT_EQ(openpty(&master_, &slave_, name, nullptr, nullptr), 0);
        ASSERT_EQ(symlink(name, ("ttyS" + std::to_string(com - 1)).c_str()), 0);
    }
    TempDir dir_;
    char old_dir_[PATH_MAX] = {};
    int master_ = -1;
    int slave_ = -1;
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
