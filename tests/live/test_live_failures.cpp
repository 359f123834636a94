// Live runs that cannot start, and a port, a file or the console that fails
// in the middle of a run.
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

TEST_F(LiveRun, PortVanishingMidRunIsSilenceNotACrashNorABusyLoop) {
    const TransferMessage msg = message(1500, 6);
    start_simulator({"--rate", "0"}, build_capture({msg}, capture_options(6)).text);
    const auto began = Clock::now();
    start_program({"COM3"});
    ASSERT_TRUE(console_shows(COMPLETED_LINE, 8000)) << console();
    kill_simulator();
    const size_t logged = file("velk_original_data.txt").size();

    // Passes without bytes for a while: the run goes on, logs nothing more.
    std::this_thread::sleep_for(milliseconds(2500));
    EXPECT_EQ(program_exit(0).status, -1) << "still running";
    EXPECT_EQ(file("velk_original_data.txt").size(), logged);
    press_key();
    const Exit e = expect_clean_end();
    // A pass sleeps 200 ms; spinning on the dead port would burn the CPU
    // for all of the run's seconds.
    const double wall_s = std::chrono::duration<double>(Clock::now() - began).count();
    EXPECT_LT(e.cpu_s, 0.15 * wall_s) << e.cpu_s << " s of CPU in " << wall_s << " s";
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
