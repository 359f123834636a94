// Live runs that cannot start, a port that goes away in the middle of a run
// (waited for, and the modem started again when it is back), and a file or
// the console that fails.
#include <csignal>
#include <cstdio>
#include <string>

#include <poll.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>

#include "tests/live/live_rig.h"

namespace live {
namespace {

const std::string CANNOT_OPEN = "Can not open comport\n";
constexpr int STATUS_NO_PAYLOAD_FILE = 253;   // -3
constexpr int STATUS_NO_ORIGINAL_FILE = 252;  // -4
constexpr int STATUS_NO_PORT = 251;           // -5

TEST(LiveRunRefused, PortNumbersOutsideOneToThirtyTwoAndAPortThatDoesNotExist) {
    TempDir dir;
    const std::string illegal = "illegal comport number\n" + CANNOT_OPEN;
    const struct {
        const char* argument;
        std::string shown;  // after the banner
    } cases[] = {
        {"COM0", "\r\nTrying to open COM port 0...\r\n" + illegal},
        {"COM33", trying(33) + illegal},
        {"COM-1", "\r\nTrying to open COM port -1...\r\n" + illegal},
        {"COM", "\r\nTrying to open COM port 0...\r\n" + illegal},
        {"com99999999999", "\r\nTrying to open COM port 2147483647...\r\n" + illegal},
        {"COM7", trying(7) + opening(7) + "unable to open comport\n" + CANNOT_OPEN},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.argument);
        const ProgramResult r = run_program(VELK_LZH_TESTDEV, {c.argument}, dir.path());
        EXPECT_EQ(r.out, BANNER + c.shown);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, STATUS_NO_PORT);
    }
    EXPECT_FALSE(file_exists(dir / "velk_payload_data.txt"));
    EXPECT_FALSE(file_exists(dir / "velk_original_data.txt"));
}

TEST_F(LiveRun, PortHeldByAnotherOpenerIsRefused) {
    start_simulator({});
    const std::string refused = BANNER + trying(3) + opening(3) + "unable to open comport\n" + CANNOT_OPEN;

    // Another program holding the device, as this program holds its own.
    const int holder = open(path("ttyS2").c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    start_program({"COM3"});
    EXPECT_EQ(program_exit().status, STATUS_NO_PORT);
    EXPECT_EQ(console(), refused);
    close(holder);

    // A second run on the port of a run that is listening.
    start_program({"COM3"});
    ASSERT_TRUE(console_shows(LISTENING)) << console();
    // run_program's output files would be the first run's in the same
    // directory: the second gets one of its own, with a link to the port.
    ASSERT_EQ(mkdir(path("second").c_str(), 0755), 0);
    ASSERT_EQ(symlink(path("ttyS2").c_str(), path("second/ttyS2").c_str()), 0);
    const ProgramResult second = run_program(VELK_LZH_TESTDEV, {"COM3"}, path("second"));
    EXPECT_EQ(second.status, STATUS_NO_PORT);
    EXPECT_EQ(second.out + second.err, refused);
    press_key();
    expect_clean_end();
    EXPECT_EQ(file("received.bin"), all_commands(3)) << "the refused runs sent nothing";
}

TEST_F(LiveRun, AppendFilesThatCannotBeOpened) {
    // Tests may run as root, where permissions refuse nothing: a directory
    // of the file's name refuses every opener.
    start_simulator({});
    const struct {
        const char* directory;
        int status;
    } cases[] = {{"velk_payload_data.txt", STATUS_NO_PAYLOAD_FILE}, {"velk_original_data.txt", STATUS_NO_ORIGINAL_FILE}};
    for (const auto& c : cases) {
        ASSERT_EQ(mkdir(path(c.directory).c_str(), 0755), 0);
        start_program({"COM3"});
        EXPECT_EQ(program_exit().status, c.status);
        EXPECT_EQ(console() + errors(),
                  BANNER + trying(3) + opening(3) + "Unable to open file : " + c.directory + "\n");
        ASSERT_EQ(rmdir(path(c.directory).c_str()), 0);
    }
    EXPECT_EQ(file("velk_payload_data.txt"), "") << "opened, but the run never began";
    EXPECT_FALSE(file_exists(path("velk_original_data.txt")));
    kill_simulator();
    EXPECT_EQ(file("received.bin"), "") << "no command reached the modem";
}

TEST_F(LiveRun, PortLostForTwoSecondsComesBackAndTheModemIsStartedAgain) {
    // The port goes away in the middle of the first message and comes back
    // two seconds later; the rest of that message then arrives, followed by
    // the next one.
    const TransferMessage cut = message(3000, 13);
    const TransferMessage next = message(1200, 14);
    const CaptureOptions options = capture_options(13);
    CaptureBuilder b;
    builder_start(b, options.seed);
    add_message(b, cut, options);
    add_noise_line(b);
    add_message(b, next, options);
    const size_t vanish_at = b.text.size() / 3;

    start_simulator({"--rate", "0", "--vanish-after", std::to_string(vanish_at), "--vanish-ms", "2000"}, b.text);
    start_program({"COM3"});
    ASSERT_TRUE(console_shows(BACK, 8000)) << console();
    ASSERT_TRUE(wait_until([&] { return count_of(file("velk_payload_data.txt"), COMPLETED_LINE) == 1; }, 5000))
        << console();
    press_key();
    expect_clean_end();

    EXPECT_EQ(file("received.bin"), start_commands(3) + all_commands(3));
    const std::string shown = console();
    EXPECT_EQ(count_of(shown, LOST), 1u);
    EXPECT_EQ(count_of(shown, BACK), 1u);
    EXPECT_LT(shown.find(LOST), shown.find(BACK));
    // Nothing but what came from the port: the reply to each start and the
    // capture, cut where the port went away.
    EXPECT_EQ(file("velk_original_data.txt"), SEPARATOR + START_REPLY + b.text.substr(0, vanish_at) + START_REPLY +
                                                  b.text.substr(vanish_at));
    // The message in progress is abandoned with what was decoded of it; the
    // next one decodes whole.
    const std::string payload = file("velk_payload_data.txt");
    const size_t next_header = payload.rfind(HEADER_LINE);
    ASSERT_NE(next_header, std::string::npos);
    const std::string partial = payload.substr(SEPARATOR.size() + HEADER_LINE.size(),
                                               next_header - SEPARATOR.size() - HEADER_LINE.size());
    EXPECT_EQ(payload, SEPARATOR + HEADER_LINE + partial + HEADER_LINE + next.text + COMPLETED_LINE + ok_line(next.text));
    EXPECT_EQ(cut.text.compare(0, partial.size(), partial), 0);
    EXPECT_LT(partial.size(), cut.text.size());
}

TEST_F(LiveRun, WaitingForALostPortUsesNoCpuAndAKeyOrSigtermEndsIt) {
    // Killing the simulator takes the port away for good.  The stop command
    // has no port to go to, so the modem never gets it.
    for (const bool by_key : {true, false}) {
        SCOPED_TRACE(by_key ? "key" : "SIGTERM");
        start_simulator({"--start-delay", "0"});
        start_program({"COM3"});
        ASSERT_TRUE(console_shows(LISTENING)) << console();
        kill_simulator();
        ASSERT_TRUE(console_shows(LOST, 3000)) << console();

        const double cpu_before = program_cpu_s();
        const auto waiting_since = Clock::now();
        std::this_thread::sleep_for(milliseconds(2000));
        const double cpu_s = program_cpu_s() - cpu_before;
        const double waited_s = std::chrono::duration<double>(Clock::now() - waiting_since).count();
        std::printf("CPU while waiting for the port: %.3f s in %.2f s\n", cpu_s, waited_s);
        EXPECT_LT(cpu_s, 0.05) << "a wait of a few tries a second, not a busy loop";

        const auto asked = Clock::now();
        if (by_key) {
            press_key();
        } else {
            signal_program(SIGTERM);
        }
        const Exit e = expect_clean_end();
        EXPECT_EQ(e.status, 0);
        EXPECT_LT(Clock::now() - asked, milliseconds(1000));
        EXPECT_EQ(file("received.bin"), start_commands(3));
        EXPECT_EQ(count_of(console(), LOST), 1u);
    }
}

// A file that stops storing what it is given is reported once, with the
// reason; the run goes on decoding to the console, stops the modem when told
// and ends with the status of that file.
TEST_F(LiveRun, FileThatCannotBeWrittenIsReportedOnceAndSetsTheStatus) {
    const std::string capture = build_capture({message(1500, 7)}, capture_options(7)).text;
    for (const auto& [name, status] : {std::pair{"velk_payload_data.txt", STATUS_NO_PAYLOAD_FILE},
                                       std::pair{"velk_original_data.txt", STATUS_NO_ORIGINAL_FILE}}) {
        SCOPED_TRACE(name);
        std::remove(path(name).c_str());  // the first case's run made the second file
        ASSERT_EQ(symlink("/dev/full", path(name).c_str()), 0);
        start_simulator({"--rate", "0"}, capture);
        start_program({"COM3"}, true);
        ASSERT_TRUE(console_shows(COMPLETED_LINE, 8000)) << console();
        press_key();
        EXPECT_EQ(program_exit().status, status);
        EXPECT_EQ(simulator_exit(), 0) << "the simulator ends on \"velk Stop\\r\"";
        const std::string report = "\r\nUnable to write file : " + std::string(name) + " (No space left on device)\r\n";
        EXPECT_EQ(count_of(console(), report), 1u) << console();
        EXPECT_TRUE(ends_with(console(), GOODBYE));
        EXPECT_EQ(errors(), "");
        ASSERT_EQ(std::remove(path(name).c_str()), 0);
    }
}

// `velk_lzh COM3 | less` and the pager quits: the run ends as if stopped by
// a key, the terminal set back as it was and the modem told to stop.
TEST_F(LiveRun, ConsoleGoingAwayStopsTheRunInOrder) {
    start_simulator({}, build_capture({message(30000, 8)}, capture_options(8)).text);
    int master = -1, terminal = -1, console_pipe[2] = {-1, -1};
    ASSERT_EQ(openpty(&master, &terminal, nullptr, nullptr, nullptr), 0);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(terminal, F_SETFD, FD_CLOEXEC);
    ASSERT_EQ(pipe2(console_pipe, O_CLOEXEC), 0);
    const auto mode = [&] {
        termios tio{};
        tcgetattr(terminal, &tio);
        return std::tuple{tio.c_iflag, tio.c_oflag, tio.c_lflag, tio.c_cc[VMIN], tio.c_cc[VTIME]};
    };
    const auto before = mode();

    start_program_on_terminal({"COM3"}, terminal, console_pipe[1]);
    close(console_pipe[1]);
    std::string shown;
    ASSERT_TRUE(wait_until(
        [&] {
            char buffer[4096];
            pollfd p{console_pipe[0], POLLIN, 0};
            const ssize_t got = poll(&p, 1, 0) == 1 ? read(console_pipe[0], buffer, sizeof buffer) : 0;
            if (got > 0) shown.append(buffer, static_cast<size_t>(got));
            return shown.find(LISTENING) != std::string::npos;
        },
        5000))
        << shown;
    EXPECT_NE(mode(), before) << "the run takes the terminal for single keys";
    close(console_pipe[0]);

    EXPECT_EQ(program_exit(8000).status, 0);
    EXPECT_EQ(simulator_exit(), 0) << "the simulator ends on \"velk Stop\\r\"";
    EXPECT_EQ(file("received.bin"), all_commands(3));
    EXPECT_EQ(mode(), before);
    EXPECT_EQ(errors(), "");
    close(master);
    close(terminal);
}

}  // namespace
}  // namespace live
