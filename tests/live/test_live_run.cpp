// The live run end to end: the commands the modem gets, the two append
// files, decoding while a transfer arrives, the ways to stop, the silence
// watchdog; runs that cannot start, a port that goes away and comes back,
// and a file or the console that fails.
#include <csignal>
#include <cstdio>
#include <string>
#include <utility>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>

#include "app/silence_watchdog.h"
#include "tests/live/live_rig.h"
#include "tests/support/pty.h"

namespace live {
namespace {

const std::string REPORT = "QSL both, over";

TEST_F(LiveRun, TwoRunsDecodeWhileBytesArriveLogFromVelkStartOnAndAppendAfterASeparator) {
    // Two messages at the line rate; the line falls silent for 1.5 s in the
    // middle of the first transfer, where its opening words must show.
    const TransferMessage first = message(2500, 1);
    const TransferMessage second = message(1800, 2);
    const CaptureOptions options = capture_options(7);
    CaptureBuilder b;
    builder_start(b, options.seed);
    add_noise_line(b);
    const size_t first_at = b.text.size();
    add_message(b, first, options);
    const size_t pause_at = (first_at + b.text.size()) / 2, first_end = b.text.size();
    add_text_report(b, REPORT);
    add_message(b, second, options);
    add_noise_line(b);
    const std::string until_listening =
        opened(3) + FETCHING + "velk mode 3\r\nOK\r\nvelk V 1\r\nOK\r\nvelk H 1\r\nOK\r\nvelk P 0\r\nOK\r\n" + LISTENING;
    const std::string decoded = SEPARATOR + HEADER_FOUND + first.text + COMPLETED + ok_line(first.text) + REPORT +
                                HEADER_FOUND + second.text + COMPLETED + ok_line(second.text);
    std::string original;
    std::string payload;
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE(run);
        start_simulator({"--pause-after", std::to_string(pause_at), "--pause-ms", "1500"}, b.text);
        start_program({"COM3"});
        const std::string opening_words = payload + SEPARATOR + HEADER_FOUND + first.text.substr(0, 100);
        ASSERT_TRUE(wait_until([&] { return file("velk_payload_data.txt").starts_with(opening_words); }, 8000));
        original += SEPARATOR + START_REPLY;
        EXPECT_LT(file("velk_original_data.txt").size(), original.size() + first_end) << "decoded before its end";
        original += b.text;
        payload += decoded;
        ASSERT_TRUE(wait_until([&] { return file("velk_original_data.txt").size() >= original.size(); }, 8000))
            << console();
        press_key();
        expect_clean_end();
        EXPECT_EQ(file("received.bin"), all_commands(3));
        // The replies before "velk Start\r" are shown, not logged.
        EXPECT_EQ(file("velk_original_data.txt"), original);
        EXPECT_EQ(file("velk_payload_data.txt"), payload);
        const std::string shown = console_text();
        EXPECT_EQ(shown.substr(0, until_listening.size()), until_listening);
        for (const TransferMessage* m : {&first, &second}) EXPECT_NE(shown.find(m->text.substr(0, 100)), shown.npos);
    }
}

TEST_F(LiveRun, ArrivalOrderHoldsWithinOneReadAndAfterAMessageEndedByItsCount) {
    // The capture right behind the reply to "velk Start\r", so its first
    // part arrives in the settle step's read: the first message's last
    // blocks and the text report after them come in one read.  Then one
    // binary report carries two transfers, the first ended by its own length
    // inside a block: the rest of the report belongs to the next message.
    const TransferMessage first = message(700, 11), second = message(500, 12), next = message(500, 22);
    TransferMessage counted = message(700, 21);
    counted.stream_length = 300;
    const CaptureOptions options = capture_options(11);
    CaptureBuilder b;
    builder_start(b, options.seed);
    add_message(b, first, options);
    add_text_report(b, REPORT);
    add_message(b, second, options);
    ASSERT_LT(START_REPLY.size() + b.text.size(), 4095u) << "one read";
    std::vector<uint8_t> report;
    for (const TransferMessage& m : {counted, next}) {
        for (const std::vector<uint8_t>& part : {transfer_header(m), transfer_body(m)})
            report.insert(report.end(), part.begin(), part.end());
    }
    add_binary_report(b, report);

    start_simulator({"--rate", "0", "--start-delay", "0"}, b.text);
    start_program({"COM3"});
    const std::string whole = HEADER_FOUND + next.text + COMPLETED + ok_line(next.text);
    ASSERT_TRUE(wait_until([&] { return file("velk_payload_data.txt").ends_with(whole); }, 8000)) << console();
    // A second run on the same port, from a directory of its own, is refused.
    ASSERT_EQ(mkdir(path("second").c_str(), 0755), 0);
    ASSERT_EQ(symlink(path("ttyS2").c_str(), path("second/ttyS2").c_str()), 0);
    expect_result(run_program(VELK_LZH_PATH, {"COM3"}, path("second")), opened(3), STATUS_NO_PORT,
                  "unable to open comport\nvelk_lzh: COM3 (./ttyS2): Device or resource busy\nvelk_lzh: the port is busy: "
                  "another program uses it, end that one first\nCan not open comport\n");
    press_key();
    expect_clean_end();
    EXPECT_EQ(file("received.bin"), all_commands(3)) << "the refused run sent nothing";
    EXPECT_EQ(file("velk_original_data.txt"), SEPARATOR + START_REPLY + b.text);
    const std::string payload = file("velk_payload_data.txt");
    const std::string in_order = SEPARATOR + HEADER_FOUND + first.text + COMPLETED + ok_line(first.text) + REPORT +
                                 HEADER_FOUND + second.text + COMPLETED + ok_line(second.text) + HEADER_FOUND +
                                 counted.text.substr(0, 300);
    EXPECT_EQ(payload.substr(0, in_order.size()), in_order);
    EXPECT_LT(payload.find("### MESSAGE CHECK: DAMAGED ("), payload.size() - whole.size()) << "told apart";
    EXPECT_EQ(count_of(payload, "### MESSAGE CHECK: "), 4u);
}

TEST_F(LiveRun, KeyPressedBeforeAnyCommandOnlyStopsTheModem) {
    start_simulator({});
    start_program({"COM3"});
    press_key();
    expect_clean_end();
    EXPECT_EQ(file("received.bin"), "velk Stop\r");
    EXPECT_EQ(console(), opened(3) + FETCHING + GOODBYE);
    EXPECT_EQ(file("velk_payload_data.txt"), SEPARATOR);
    EXPECT_EQ(file("velk_original_data.txt"), SEPARATOR);
}

TEST_F(LiveRun, KeyOrStopSignalEndsTheRunTheEndOfInputDoesNotAndALostPortIsAwaitedWithoutCpu) {
    // A killed simulator takes the port away for good; the stop command then
    // has no port to go to.
    const struct {
        int stop;          // a signal, or 0 for a key
        const char* port;  // any letter case
        const char* mode;  // 4, or 3 for anything else
        int sent;
        bool port_lost;
    } cases[] = {{SIGTERM, "COM3", "3", 3, false}, {SIGHUP, "com3", "4", 4, false}, {SIGINT, "Com3", "5", 3, false},
                 {0, "COM3", "3", 3, true},        {SIGTERM, "COM3", "3", 3, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.stop) + (c.port_lost ? " port lost" : ""));
        start_simulator({"--start-delay", "0"});
        start_program({c.port, c.mode}, c.stop == SIGHUP || c.stop == SIGINT);
        // Run unattended, as with </dev/null: the end of input is no key.
        if (c.stop == SIGTERM) end_input();
        ASSERT_TRUE(console_shows(LISTENING)) << console();
        EXPECT_EQ(program_exit(300), -1) << "still running";
        if (c.port_lost) {
            kill_simulator();
            ASSERT_TRUE(console_shows(LOST, 3000)) << console();
            const double cpu_before = program_cpu_s();
            std::this_thread::sleep_for(milliseconds(2000));
            const double cpu_s = program_cpu_s() - cpu_before;
            std::printf("CPU while waiting 2 s for the port: %.3f s\n", cpu_s);
            EXPECT_LT(cpu_s, 0.05) << "a wait of a few tries a second, not a busy loop";
        }
        const auto asked = Clock::now();
        c.stop ? signal_program(c.stop) : press_key();
        expect_clean_end(c.mode == std::string("5") ? "velk_lzh: mode 5 is neither 3 nor 4, mode 3 is used\n" : "");
        if (c.port_lost) {
            EXPECT_LT(Clock::now() - asked, milliseconds(1000));
        }
        EXPECT_EQ(file("received.bin"), c.port_lost ? start_commands(3) : all_commands(c.sent));
        EXPECT_EQ(count_of(console(), LOST), c.port_lost ? 1u : 0u);
    }
}

// The count behind "about a minute": the end-to-end run cannot tell 300
// passes from 299.
TEST(SilenceWatchdog, ActsOnThe301stSilentPassAndOnlyDuringAMessage) {
    SilenceWatchdog w{};
    for (int32_t pass = 1; pass <= 300; ++pass) ASSERT_FALSE(watchdog_pass(w, true)) << pass;
    EXPECT_FALSE(watchdog_pass(w, false)) << "no message in progress";
    EXPECT_TRUE(watchdog_pass(w, true));
    watchdog_heard(w);
    EXPECT_FALSE(watchdog_pass(w, true));
    w.silent_passes = INT32_MAX;  // days of silence
    EXPECT_TRUE(watchdog_pass(w, true));
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
            ASSERT_TRUE(console_shows(COMPLETED, 8000)) << console();
            press_key();
        }
        EXPECT_EQ(program_exit(), c.status);
        const std::string commands = c.opens ? all_commands(3) : "";
        EXPECT_TRUE(wait_until([&] { return file("received.bin") == commands; }, 3000)) << file("received.bin");
        kill_simulator();
        // A file that cannot be opened ends the run: said on standard error.
        EXPECT_EQ(count_of(console(), report), c.opens ? 1u : 0u) << console();
        EXPECT_TRUE(console().ends_with(c.opens ? GOODBYE : opened(3))) << console();
        EXPECT_EQ(errors(), c.opens ? "" : report);
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
    ASSERT_TRUE(console_shows(COMPLETED, 12000)) << console();
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
        const size_t begin = expected.size() + HEADER_FOUND.size(), end = payload.find(HEADER_FOUND, begin);
        ASSERT_NE(end, std::string::npos) << payload;
        const std::string partial = payload.substr(begin, end - begin);
        EXPECT_GE(partial.size(), 100u);
        EXPECT_LT(partial.size(), cut->text.size());
        EXPECT_EQ(cut->text.compare(0, partial.size(), partial), 0);
        expected += HEADER_FOUND + partial;
    }
    EXPECT_EQ(payload, expected + HEADER_FOUND + next.text + COMPLETED + ok_line(next.text));
}

// `velk_lzh COM3` from a shell: the terminal gives single keys while the
// run lasts and gets its mode back however the run ends: a key typed on it,
// the console going away (`| less` and the pager quits: an orderly end), or
// a signal that ends it at once.  The port, cooked as a device fresh from
// the system is, becomes a raw 115200-baud line whose reads never wait.
TEST_F(LiveRun, TerminalTakesSingleKeysThePortGoesRawAndEveryWayOutRestoresTheTerminal) {
    const rlimit no_core{0, 0};
    ASSERT_EQ(setrlimit(RLIMIT_CORE, &no_core), 0);
    const std::string capture = build_capture({message(30000, 8)}, capture_options(8)).text;
    const struct {
        const char* way;
        int status;
    } cases[] = {{"key", 0}, {"console", 0}, {"quit", 128 + SIGQUIT}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.way);
        const bool console_closed = c.way == std::string("console");
        start_simulator({}, console_closed ? capture : "");
        const int port = open(path("ttyS2").c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios line{};
        ASSERT_EQ(tcgetattr(port, &line), 0);
        line.c_iflag |= ICRNL | IXON;
        line.c_oflag |= OPOST;
        line.c_lflag |= ICANON | ECHO | ISIG;
        line.c_cc[VMIN] = 1;
        ASSERT_EQ(tcsetattr(port, TCSANOW, &line), 0);

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
        ASSERT_EQ(tcgetattr(port, &line), 0);
        EXPECT_EQ(std::tuple(cfgetispeed(&line), cfgetospeed(&line), line.c_cflag & (CSTOPB | CRTSCTS | CREAD | CLOCAL),
                             line.c_iflag & (IXON | IXOFF | ICRNL), line.c_lflag & (ICANON | ECHO | ISIG),
                             line.c_oflag & OPOST, line.c_cc[VMIN] + line.c_cc[VTIME]),
                  std::tuple(speed_t{B115200}, speed_t{B115200}, tcflag_t{CREAD | CLOCAL}, 0u, 0u, 0u, 0));
        close(port);

        if (console_closed) close(console_pipe[0]);
        else if (c.status == 0) ASSERT_EQ(write(terminal.master, "q", 1), 1);
        else signal_program(SIGQUIT);
        EXPECT_EQ(program_exit(8000), c.status);
        if (c.status == 0) {
            EXPECT_EQ(simulator_exit(), 0) << "the simulator ends on \"velk Stop\\r\"";
            EXPECT_EQ(file("received.bin"), all_commands(3));
        } else {
            kill_simulator();
        }
        EXPECT_EQ(mode(), before);
        EXPECT_EQ(errors(), "");
        if (!console_closed) close(console_pipe[0]);
    }
}

}  // namespace
}  // namespace live
