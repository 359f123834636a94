// Live runs that cannot start, a stalled message, a port that goes away in
// the middle of a run (waited for, and the modem started again when it is
// back), and a file or the console that fails.
#include <csignal>
#include <cstdio>
#include <string>
#include <utility>

#include <sys/stat.h>
#include <termios.h>

#include "tests/live/live_rig.h"
#include "tests/support/pty.h"

namespace live {
namespace {

constexpr int STATUS_NO_PAYLOAD_FILE = 253;   // -3
constexpr int STATUS_NO_ORIGINAL_FILE = 252;  // -4

TEST(LiveRunRefused, PortNumbersOutsideOneToThirtyTwoAndAPortThatDoesNotExist) {
    TempDir dir;
    const std::string illegal = "...\r\nillegal comport number\nCan not open comport\n";
    const struct {
        const char* argument;
        std::string shown;  // after the banner
    } cases[] = {
        {"COM0", "\r\nTrying to open COM port 0" + illegal},
        {"COM33", "\r\nTrying to open COM port 33" + illegal},
        {"COM-1", "\r\nTrying to open COM port -1" + illegal},
        {"com99999999999", "\r\nTrying to open COM port 2147483647" + illegal},
        {"COM7", opened(7).substr(BANNER.size()) + "unable to open comport\nCan not open comport\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.argument);
        const ProgramResult r = run_program(VELK_LZH_TESTDEV, {c.argument}, dir.path());
        EXPECT_EQ(r.out + r.err, BANNER + c.shown);
        EXPECT_EQ(r.status, 251);  // -5
    }
    EXPECT_FALSE(file_exists(dir / "velk_payload_data.txt"));
    EXPECT_FALSE(file_exists(dir / "velk_original_data.txt"));
}

TEST_F(LiveRun, AppendFileThatCannotBeOpenedOrWrittenIsReportedOnceWithItsStatus) {
    // A directory of the file's name refuses every opener, root included;
    // /dev/full takes the open and refuses every write.  A write failure
    // leaves the run decoding to the console until it is told to stop.
    const std::string capture = build_capture({message(1500, 7)}, capture_options(7)).text;
    const struct {
        const char* name;
        bool opens;
        int status;
    } cases[] = {{"velk_payload_data.txt", false, STATUS_NO_PAYLOAD_FILE},
                 {"velk_original_data.txt", false, STATUS_NO_ORIGINAL_FILE},
                 {"velk_payload_data.txt", true, STATUS_NO_PAYLOAD_FILE},
                 {"velk_original_data.txt", true, STATUS_NO_ORIGINAL_FILE}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + (c.opens ? " full" : " refused"));
        for (const char* name : {"velk_payload_data.txt", "velk_original_data.txt"}) std::remove(path(name).c_str());
        ASSERT_EQ(c.opens ? symlink("/dev/full", path(c.name).c_str()) : mkdir(path(c.name).c_str(), 0755), 0);
        start_simulator({"--rate", "0"}, capture);
        start_program({"COM3"}, true);
        const std::string report = c.opens ? "\r\nUnable to write file : " + std::string(c.name) +
                                                 " (No space left on device)\r\n"
                                           : "Unable to open file : " + std::string(c.name) + "\n";
        if (c.opens) {
            ASSERT_TRUE(console_shows(COMPLETED_LINE, 8000)) << console();
            press_key();
        }
        EXPECT_EQ(program_exit(), c.status);
        const std::string commands = c.opens ? all_commands(3) : "";
        EXPECT_TRUE(wait_until([&] { return file("received.bin") == commands; }, 3000)) << file("received.bin");
        kill_simulator();
        EXPECT_EQ(count_of(console(), report), 1u) << console();
        EXPECT_TRUE(console().ends_with(c.opens ? GOODBYE : opened(3) + report)) << console();
        EXPECT_EQ(errors(), "");
    }
}

TEST_F(LiveRun, StalledMessageIsAbandonedByTheWatchdogAndALostPortIsAwaitedAndStartedAgain) {
    // The first transfer breaks off in its third block and the line stays
    // silent for 2.5 s, far beyond the fast build's 300 passes of about
    // 2 ms.  The port then goes away in the middle of the second message and
    // comes back two seconds later with the rest of it; the third follows.
    TransferMessage stalled = message(3000, 4);
    stalled.cut_at = 700;
    const TransferMessage lost = message(3000, 13), next = message(1200, 14);
    const CaptureOptions options = capture_options(4);
    CaptureBuilder b;
    builder_start(b, options.seed);
    add_message(b, stalled, options);
    const size_t silence_at = b.text.size();
    add_noise_line(b);
    const size_t lost_at = b.text.size();
    add_message(b, lost, options);
    const size_t vanish_at = (lost_at + b.text.size()) / 2;
    add_noise_line(b);
    add_message(b, next, options);

    start_simulator({"--rate", "0", "--pause-after", std::to_string(silence_at), "--pause-ms", "2500", "--vanish-after",
                     std::to_string(vanish_at), "--vanish-ms", "2000"},
                    b.text);
    start_program({"COM3"}, true);
    ASSERT_TRUE(console_shows(COMPLETED_LINE, 12000)) << console();
    // Silence while no message is in progress: no more timeouts.
    std::this_thread::sleep_for(milliseconds(1500));
    press_key();
    expect_clean_end();

    EXPECT_EQ(file("received.bin"), start_commands(3) + all_commands(3));
    const std::string timeout = "\r\n###===== STOPPING LZHUF DECOMPRESSION: *** TIMEOUT *** =====###\r\n";
    const std::string shown = console_text();
    for (const std::string& once : {timeout, LOST, BACK}) EXPECT_EQ(count_of(shown, once), 1u) << once;
    EXPECT_LT(shown.find(stalled.text.substr(0, 100)), shown.find(timeout)) << "the first message was under way";
    EXPECT_LT(shown.find(timeout), shown.find(lost.text.substr(0, 100)));
    EXPECT_LT(shown.find(LOST), shown.find(BACK));
    // Nothing but what came from the port: the reply to each start and the
    // capture, cut where the port went away.
    EXPECT_EQ(file("velk_original_data.txt"), SEPARATOR + START_REPLY + b.text.substr(0, vanish_at) + START_REPLY +
                                                  b.text.substr(vanish_at));
    // The timeout shows on the console only; each abandoned message keeps
    // what was decoded of it, and the last comes out whole.
    const std::string payload = file("velk_payload_data.txt");
    std::string expected = SEPARATOR;
    for (const TransferMessage* cut : {&std::as_const(stalled), &lost}) {
        const size_t begin = expected.size() + HEADER_LINE.size(), end = payload.find(HEADER_LINE, begin);
        ASSERT_NE(end, std::string::npos) << payload;
        const std::string partial = payload.substr(begin, end - begin);
        EXPECT_GE(partial.size(), 100u);
        EXPECT_LT(partial.size(), cut->text.size());
        EXPECT_EQ(cut->text.compare(0, partial.size(), partial), 0);
        expected += HEADER_LINE + partial;
    }
    EXPECT_EQ(payload, expected + HEADER_LINE + next.text + COMPLETED_LINE + ok_line(next.text));
}

// `velk_lzh COM3 | less` and the pager quits: the run ends as if stopped by
// a key, the terminal set back as it was and the modem told to stop.
TEST_F(LiveRun, ConsoleGoingAwayStopsTheRunInOrder) {
    start_simulator({}, build_capture({message(30000, 8)}, capture_options(8)).text);
    Pty terminal;
    int console_pipe[2] = {-1, -1};
    ASSERT_EQ(pipe2(console_pipe, O_CLOEXEC), 0);
    const auto mode = [&] {
        termios tio{};
        tcgetattr(terminal.slave, &tio);
        return std::tuple{tio.c_iflag, tio.c_oflag, tio.c_lflag, tio.c_cc[VMIN], tio.c_cc[VTIME]};
    };
    const auto before = mode();
    start_program_on_terminal(terminal.slave, console_pipe[1]);
    // Until the modem is started the console holds far less than a pipe.
    ASSERT_TRUE(wait_until([&] { return file("received.bin") == start_commands(3); }, 5000));
    EXPECT_NE(mode(), before) << "the run takes the terminal for single keys";
    close(console_pipe[0]);
    EXPECT_EQ(program_exit(8000), 0);
    EXPECT_EQ(simulator_exit(), 0) << "the simulator ends on \"velk Stop\\r\"";
    EXPECT_EQ(file("received.bin"), all_commands(3));
    EXPECT_EQ(mode(), before);
    EXPECT_EQ(errors(), "");
}

}  // namespace
}  // namespace live
