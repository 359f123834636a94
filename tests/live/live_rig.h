// The live run end to end: the test build of velk_lzh against the modem
// simulator over a pseudo-terminal, in a directory of the test's own where
// COMn is ./ttyS<n-1>.  The program's standard input is a pipe held by the
// test (a byte written is a key press); its standard output and error go to
// files the test reads while it runs.
//
// Every wait is bounded, and both children are killed at teardown whatever
// happened, so a failing test never leaves a process behind.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/run_program.h"

#if !defined(VELK_LZH_TESTDEV) || !defined(VELK_LZH_TESTDEV_FAST) || !defined(MODEM_SIMULATOR)
#error "VELK_LZH_TESTDEV, VELK_LZH_TESTDEV_FAST and MODEM_SIMULATOR must name the executables"
#endif

namespace live {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

inline const std::string BANNER =
    "\r\nVELK LZHUF-Decoder Version 1.0.6 (18-SEP-2019)\n==============================================\n\n";
inline const std::string SEPARATOR = "\r\n\r\n" + std::string(90, '=') + "\r\n\r\n";
inline const std::string CONFIGURATION =
    "baud=115200 data=8 parity=n stop=1 xon=off to=off odsr=off dtr=on rts=on";
inline const std::string FETCHING =
    "\r\nNOW FETCHING DATA FROM MODEM, press any key to abort\r\n"
    "====================================================\r\n\r\n";
inline const std::string LISTENING = "\r\n\r\n### LISTENING TO VELK...\r\n\r\n";
inline const std::string GOODBYE = "\r\nVELK OFF\r\n\r\nTHANK YOU FOR USING VELK_lzh!\r\n";
inline const std::string TIMEOUT =
    "\r\n###===== STOPPING LZHUF DECOMPRESSION: *** TIMEOUT *** =====###\r\n";
inline const std::string HEADER_FOUND = "###====== <FC EM> HEADER FOUND, STARTING LZHUF DECOMPRESSION ======###";
inline const std::string COMPLETED = "###====== MESSAGE COMPLETED, DECOMPRESSION FINISHED ======###";

// The commands of a whole run in monitor mode `mode`, as the modem gets them.
inline std::string all_commands(int mode) {
    return "\rvelk mode " + std::to_string(mode) + "\rvelk V 1\rvelk H 1\rvelk P 0\rvelk Start\rvelk Stop\r";
}

// What the console shows up to the first listening pass when the modem
// answers each command line with the line and "OK" (the simulator does).
inline std::string console_until_listening(int com, int mode) {
    const std::string number = std::to_string(com);
    return BANNER + "\r\nTrying to open COM port " + number + "...\r\n" + "\r\nOpen COM port " + number + ": " +
           CONFIGURATION + "\r\n" + FETCHING + "velk mode " + std::to_string(mode) + "\r\nOK\r\n" +
           "velk V 1\r\nOK\r\nvelk H 1\r\nOK\r\nvelk P 0\r\nOK\r\n" + "velk Start\r\nOK\r\n" + LISTENING;
}

inline bool path_exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

// Polls `ready` every few milliseconds for at most `ms`.
template <typename Ready>
bool wait_until(Ready ready, int ms) {
    const auto end = Clock::now() + milliseconds(ms);
    while (!ready()) {
        if (Clock::now() >= end) return false;
        std::this_thread::sleep_for(milliseconds(5));
    }
    return true;
}

struct Exit {
    int status = -1;     // exit status 0..255; 128 + signal if killed; -1 still running
    double cpu_s = 0.0;  // user + system time of the whole process
};

class LiveRun : public ::testing::Test {
protected:
    // A key press written after the program has ended must not end the test.
    void SetUp() override { std::signal(SIGPIPE, SIG_IGN); }

    void TearDown() override {
        for (pid_t* pid : {&program_, &second_, &simulator_}) {
            if (*pid > 0) {
                kill(*pid, SIGKILL);
                waitpid(*pid, nullptr, 0);
                *pid = -1;
            }
        }
        if (keys_ >= 0) close(keys_);
    }

    std::string path(const std::string& name) const { return dir_ / name; }
    std::string file(const std::string& name) const { return read_file(path(name)); }

    // The simulator offering COM3, recording what it receives in
    // received.bin.  Monitor text starts 500 ms after "velk Start\r":
    // well after the settle step that echoes the reply, so every byte of it
    // arrives in listening passes and is logged.
    void start_simulator(std::vector<std::string> args, const std::string& capture = {}) {
        if (!capture.empty()) {
            write_file(path("capture.txt"), capture);
            args.insert(args.end(), {"--capture", path("capture.txt")});
        }
        std::vector<std::string> all = {MODEM_SIMULATOR, "--quiet",       "--link",       path("ttyS2"),
                                        "--record",      path("received.bin"), "--time-limit", "30",
                                        "--start-delay", "500"};
        all.insert(all.end(), args.begin(), args.end());
        std::remove(path("received.bin").c_str());
        simulator_ = spawn(all, "/dev/null", path(".simulator_out"), path(".simulator_err"), -1);
        ASSERT_TRUE(wait_until([&] { return path_exists(path("ttyS2")); }, 3000)) << "simulator offers no port";
    }

    // The program in the test's directory; standard input is a pipe whose
    // write end the test keeps for key presses.
    void start_program(const std::vector<std::string>& args, bool fast = false) {
        program_ = start_velk(args, fast, ".stdout", ".stderr", keys_);
    }

    // A second program beside the first, its input at end (never a key).
    pid_t start_second(const std::vector<std::string>& args) {
        int unused = -1;
        second_ = start_velk(args, false, ".stdout2", ".stderr2", unused);
        if (unused >= 0) close(unused);
        return second_;
    }

    std::string console() const { return file(".stdout"); }
    std::string errors() const { return file(".stderr"); }

    bool console_shows(const std::string& text, int ms = 5000) const {
        return wait_until([&] { return console().find(text) != std::string::npos; }, ms);
    }

    void press_key() const { ASSERT_EQ(write(keys_, "k", 1), 1); }

    // The program's end within `ms`: its status and CPU time.
    Exit program_exit(int ms = 5000) { return wait_exit(program_, ms); }
    Exit second_exit(int ms = 5000) { return wait_exit(second_, ms); }
    int simulator_exit(int ms = 5000) { return wait_exit(simulator_, ms).status; }

    void signal_program(int signal_number) const { ASSERT_EQ(kill(program_, signal_number), 0); }
    void kill_simulator() {
        ASSERT_EQ(kill(simulator_, SIGKILL), 0);
        waitpid(simulator_, nullptr, 0);
        simulator_ = -1;
    }

    TempDir dir_;

private:
    pid_t start_velk(const std::vector<std::string>& args, bool fast, const std::string& out,
                     const std::string& err, int& keys) {
        int pipe_ends[2] = {-1, -1};
        if (pipe2(pipe_ends, O_CLOEXEC) != 0) return -1;
        if (keys >= 0) close(keys);
        std::vector<std::string> all = {fast ? VELK_LZH_TESTDEV_FAST : VELK_LZH_TESTDEV};
        all.insert(all.end(), args.begin(), args.end());
        const pid_t pid = spawn(all, "", path(out), path(err), pipe_ends[0]);
        close(pipe_ends[0]);
        keys = pipe_ends[1];
        return pid;
    }

    // fork + exec in the test's directory; standard input from `input`
    // (a descriptor) or else from the file `in_path`.
    pid_t spawn(const std::vector<std::string>& args, const std::string& in_path, const std::string& out_path,
                const std::string& err_path, int input) const {
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        // Emptied here, not in the child: the test must never read what an
        // earlier run left there as this run's output.
        write_file(out_path, "");
        write_file(err_path, "");
        std::fflush(nullptr);
        const pid_t pid = fork();
        if (pid != 0) return pid;
        if (chdir(dir_.path().c_str()) != 0) _exit(127);
        const int in = input >= 0 ? input : open(in_path.c_str(), O_RDONLY);
        const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0) _exit(127);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }

    static Exit wait_exit(pid_t& pid, int ms) {
        Exit e;
        if (pid <= 0) return e;
        const auto end = Clock::now() + milliseconds(ms);
        for (;;) {
            int wait_status = 0;
            rusage usage {};
            if (wait4(pid, &wait_status, WNOHANG, &usage) == pid) {
                pid = -1;
                e.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
                e.cpu_s = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                          static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
                return e;
            }
            if (Clock::now() >= end) return e;
            std::this_thread::sleep_for(milliseconds(5));
        }
    }

    pid_t program_ = -1;
    pid_t second_ = -1;
    pid_t simulator_ = -1;
    int keys_ = -1;
};

}  // namespace live
