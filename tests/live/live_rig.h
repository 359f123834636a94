// The live run end to end: the test build of velk_lzh against the modem
// simulator over a pseudo-terminal, in a directory of the test's own where
// COMn is ./ttyS<n-1>.  A byte written to the program's standard input (a
// pipe) is a key press; its console goes to a file read while it runs.
// Every wait is bounded and both children are killed at teardown.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <thread>

#include "tests/support/message_check.h"
#include "tests/app/velk_program.h"
#include "tests/support/sample_text.h"
#include "tools/capture_builder.h"

namespace live {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

inline const std::string SEPARATOR = "\r\n\r\n" + std::string(90, '=') + "\r\n\r\n";
inline const std::string FETCHING =
    "\r\nNOW FETCHING DATA FROM MODEM, press any key to abort\r\n"
    "====================================================\r\n\r\n";
inline const std::string LISTENING = "\r\n\r\n### LISTENING TO VELK...\r\n\r\n";
inline const std::string START_REPLY = "velk Start\r\nOK\r\n";
inline const std::string GOODBYE = "\r\nVELK OFF\r\n\r\nTHANK YOU FOR USING VELK_lzh!\r\n";
inline const std::string TIME = "<time>";  // a checked time, see untimed()
inline const std::string HEARD = "### HEARD AT " + TIME + "\r\n";

// A line about the port, as the run names it: LOST, BACK or why it cannot be opened.
inline const std::string LOST = " LOST, WAITING FOR IT TO RETURN...", BACK = " IS BACK, STARTING THE MODEM AGAIN";
inline std::string port_line(const std::string& port, const std::string& what) {
    return "\r\n### PORT " + port + what + "\r\n";
}
// How the payload file begins each run on `port`.
inline std::string started(const std::string& port = "COM3") {
    return SEPARATOR + "### RUN STARTED " + TIME + " ON " + port + "\r\n";
}
// The console's last lines after `ok` intact and `damaged` damaged messages.
inline std::string goodbye(int ok, int damaged) {
    return counted("", static_cast<size_t>(ok + damaged), static_cast<size_t>(ok)) + GOODBYE;
}

// The console up to the opened port: COMn, or one given by its device path.
inline std::string opened_path(const std::string& port, const std::string& kind = "port ") {
    return BANNER + "\r\nTrying to open " + kind + port + "...\r\n\r\nOpen " + kind + port +
           ": baud=115200 data=8 parity=n stop=1 xon=off to=off odsr=off dtr=on rts=on\r\n";
}
inline std::string opened(int com) { return opened_path(std::to_string(com), "COM port "); }

// The commands that switch the modem into monitor mode `mode`, and those
// of a whole run, as the modem gets them.
inline std::string start_commands(int mode) {
    return "\rvelk mode " + std::to_string(mode) + "\rvelk V 1\rvelk H 1\rvelk P 0\rvelk Start\r";
}
inline std::string all_commands(int mode) { return start_commands(mode) + "velk Stop\r"; }
// The simulator's replies to start_commands(mode): those before "velk
// Start\r" are shown raw.
inline std::string replies_before_start(int mode) {
    return "velk mode " + std::to_string(mode) + "\r\nOK\r\nvelk V 1\r\nOK\r\nvelk H 1\r\nOK\r\nvelk P 0\r\nOK\r\n";
}
inline std::string replies(int mode) { return replies_before_start(mode) + START_REPLY; }

inline TransferMessage message(size_t size, uint64_t seed) { return {.text = sample_text(seed, size)}; }

// No text report inside a transfer, so between a message's two milestone
// lines the payload file holds its decoded text alone.
inline CaptureOptions capture_options(uint64_t seed) { return {.seed = seed, .reply_report = false, .report_texts = {}}; }

// The payload file's part for messages that all came through whole.
inline std::string decoded(const std::vector<TransferMessage>& messages) {
    std::string text;
    for (const TransferMessage& m : messages) text += HEADER_FOUND + HEARD + m.text + COMPLETED + ok_line(m.text);
    return text;
}

inline const char* const ISO_TIME = "%Y-%m-%dT%H:%M:%SZ";
// The UTC time `text` gives in strptime's `format`, or -1.
inline std::time_t utc_time(const std::string& text, const char* format) {
    std::tm parts{};
    const char* end = strptime(text.c_str(), format, &parts);
    return end != nullptr && *end == '\0' ? timegm(&parts) : -1;
}

// `text` with the time in each "### RUN STARTED" and "### HEARD AT" line
// read as TIME, once it is found to be a UTC time from `from` to now.  A
// time still being written, at the very end, is left as it is.
inline std::string untimed(std::string text, std::time_t from) {
    for (const std::string key : {"### RUN STARTED ", "### HEARD AT "}) {
        for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) {
            const size_t time_at = at + key.size();
            if (time_at + 20 >= text.size()) break;
            const std::time_t when = utc_time(text.substr(time_at, 20), ISO_TIME);
            EXPECT_TRUE(when >= from && when <= std::time(nullptr)) << text.substr(at, 40);
            text.replace(time_at, 20, TIME);
        }
    }
    return text;
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

class LiveRun : public ::testing::Test {
protected:
    // A key press written after the program has ended must not end the test.
    void SetUp() override { std::signal(SIGPIPE, SIG_IGN); }

    void TearDown() override {
        for (pid_t* pid : {&program_, &simulator_})
            if (*pid > 0) kill(*pid, SIGKILL), waitpid(*pid, nullptr, 0);
        close(keys_);
    }

    std::string path(const std::string& name) const { return dir_ / name; }
    // A file the test's runs wrote, their times checked and read as TIME.
    std::string file(const std::string& name) const { return untimed(read_file(path(name)), began_); }

    // The console after the opened port `port`: when and where the run
    // keeps what it hears, and the fetching banner.
    std::string opening(const std::string& port, const std::string& messages = "") const {
        const std::string dir = std::filesystem::canonical(dir_.path()).string() + "/";
        std::string lines = "### RUN STARTED " + TIME + " ON " + port + "\r\n### PAYLOAD FILE: " + dir +
                            "velk_payload_data.txt\r\n### ORIGINAL DATA FILE: " + dir + "velk_original_data.txt\r\n";
        if (!messages.empty()) lines += "### MESSAGE FILES: " + dir + messages + "\r\n";
        return lines + FETCHING;
    }

    // The simulator offering COM3, recording what it receives in
    // received.bin and what it sends in sent.bin.  Monitor text starts
    // 500 ms after "velk Start\r", unless `args` say otherwise (a later
    // option wins).
    void start_simulator(std::vector<std::string> args, const std::string& capture = {}) {
        if (!capture.empty()) {
            write_file(path("capture.txt"), capture);
            args.insert(args.begin(), {"--capture", path("capture.txt")});
        }
        args.insert(args.begin(), {MODEM_SIMULATOR, "--quiet", "--link", path("ttyS2"), "--record",
                                   path("received.bin"), "--record-sent", path("sent.bin"), "--time-limit", "30",
                                   "--start-delay", "500"});
        std::remove(path("received.bin").c_str());
        // A killed simulator's link may name a pseudo-terminal that is
        // another one's by now: the wait below must see this simulator's.
        std::remove(path("ttyS2").c_str());
        simulator_ = spawn(args, -1, create(".simulator_out"), create(".simulator_err"));
        ASSERT_TRUE(wait_until([&] { return file_exists(path("ttyS2")); }, 3000)) << "simulator offers no port";
    }

    // The program in the test's directory (the _fast build pauses 1 ms for
    // every pause); standard input is a pipe whose write end the test keeps.
    // Without `console` it starts as `velk_lzh COM3 >&-` would, with no
    // standard output at all.
    void start_program(std::vector<std::string> args, bool fast = false, bool console = true) {
        int ends[2] = {-1, -1};
        ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
        close(keys_);
        keys_ = ends[1];
        args.insert(args.begin(), fast ? VELK_LZH_TESTDEV_FAST : VELK_LZH_PATH);
        if (!console) args.insert(args.begin(), {"/bin/sh", "-c", "exec \"$0\" \"$@\" >&-"});
        program_ = spawn(args, ends[0], create(".stdout"), create(".stderr"));
    }

    // The program as a shell starts it: `terminal` is its standard input and
    // controlling terminal, and its console goes to `console`.
    void start_program_on_terminal(int terminal, int console) {
        program_ = spawn({VELK_LZH_PATH, "COM3"}, dup(terminal), console, create(".stderr"), true);
    }

    std::string console() const { return file(".stdout"); }

    // A table's next case starts without the append files of the last one.
    void remove_append_files() const {
        for (const char* name : {"velk_payload_data.txt", "velk_original_data.txt"}) std::remove(path(name).c_str());
    }

    std::string errors() const { return file(".stderr"); }

    bool console_shows(const std::string& text, int ms = 5000) const {
        return wait_until([&] { return console().find(text) != std::string::npos; }, ms);
    }

    void press_key() const { ASSERT_EQ(write(keys_, "k", 1), 1); }
    void end_input() { close(keys_), keys_ = -1; }
    void signal_program(int signal_number) const { ASSERT_EQ(kill(program_, signal_number), 0); }

    // Exit status within `ms`: 0..255, 128 + signal if killed, -1 still running.
    int program_exit(int ms = 5000) { return wait_exit(program_, ms); }
    int simulator_exit() { return wait_exit(simulator_, 5000); }

    // The end of a run that was told to stop: status 0, the console ending
    // with `end` (empty: the run had no console), nothing on standard error
    // but a warning `err`, and a simulator still there ended by "velk Stop\r".
    void expect_clean_end(const std::string& end = goodbye(0, 0), const std::string& err = "") {
        EXPECT_EQ(program_exit(), 0);
        if (simulator_ > 0) {
            EXPECT_EQ(simulator_exit(), 0) << "the simulator ends on \"velk Stop\\r\"";
        }
        EXPECT_TRUE(end.empty() ? console().empty() : console().ends_with(end)) << console();
        EXPECT_EQ(errors(), err);
    }

    double program_cpu_s() const {
        clockid_t clock{};
        timespec used{};
        EXPECT_EQ(clock_getcpuclockid(program_, &clock) | clock_gettime(clock, &used), 0);
        return static_cast<double>(used.tv_sec) + static_cast<double>(used.tv_nsec) / 1e9;
    }

    // The port goes away for good, its link too: one left behind could meet
    // another test's new terminal and look like the port coming back.
    void kill_simulator() {
        ASSERT_EQ(kill(simulator_, SIGKILL), 0);
        waitpid(simulator_, nullptr, 0);
        simulator_ = -1;
        std::remove(path("ttyS2").c_str());
    }

    TempDir dir_;
    const std::time_t began_ = std::time(nullptr);

private:
    // Emptied before the child starts, so the test never reads an earlier
    // run's output as this one's.
    int create(const std::string& name) const {
        return open(path(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    }

    pid_t spawn(const std::vector<std::string>& args, int in, int out, int err, bool terminal = false) const {
        return ::start_program(args, dir_.path(), in, out, err, terminal);
    }

    static int wait_exit(pid_t& pid, int ms) {
        int wait_status = 0;
        if (pid <= 0 || !wait_until([&] { return waitpid(pid, &wait_status, WNOHANG) == pid; }, ms)) return -1;
        pid = -1;
        return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
    }

    pid_t program_ = -1;
    pid_t simulator_ = -1;
    int keys_ = -1;
};

}  // namespace live
