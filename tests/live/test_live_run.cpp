// The live run end to end: the commands the modem gets, the two append
// files, decoding while a transfer arrives, a modem that was monitoring
// already, the ways to stop, the silence watchdog; runs that cannot start, a
// port that goes away and comes back, and a file or the console that fails.
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

// What a transfer of `m` given up on left in the payload file at `at`: its
// header line, the beginning of its text, the `closing` line and a DAMAGED
// check line that counts exactly those characters against the stream's own
// length and the sender's CRC.  Moves `at` past it; returns the closing and
// check lines, as the console must show them too.
std::string expect_abandoned(const std::string& payload, size_t& at, const TransferMessage& m,
                             const std::string& closing) {
    const size_t text_at = at + HEADER_FOUND.size(), closed_at = payload.find(closing, text_at);
    if (payload.compare(at, HEADER_FOUND.size(), HEADER_FOUND) != 0 || closed_at == std::string::npos) {
        ADD_FAILURE() << "no abandoned transfer at " << at << " of " << payload;
        return "none";
    }
    const std::string partial = payload.substr(text_at, closed_at - text_at);
    EXPECT_TRUE(partial.size() >= 100 && partial.size() < m.text.size() && m.text.starts_with(partial)) << partial;
    const size_t line_at = closed_at + closing.size(), line_end = payload.find("\r\n\r\n", line_at) + 4;
    const std::string line = payload.substr(line_at, line_end - line_at);
    const std::vector<uint8_t> stream = compressed_message(m);
    char sent[32];
    std::snprintf(sent, sizeof sent, ", SENT %04X)\r\n\r\n", unsigned{stream[0]} | unsigned{stream[1]} << 8);
    EXPECT_TRUE(line.starts_with("### MESSAGE CHECK: DAMAGED (" + std::to_string(partial.size()) + " OF " +
                                 std::to_string(m.text.size()) + " CHARACTERS, CRC ") &&
                line.ends_with(sent))
        << line;
    at = line_end;
    return closing + line;
}

// A message's announcement and then its transfer, each in reports of its
// own; returns where the transfer's reports begin.
size_t add_announced(CaptureBuilder& b, const TransferMessage& m) {
    add_binary_reports(b, transfer_header(m));
    const size_t transfer_at = b.text.size();
    add_binary_reports(b, transfer_body(m));
    return transfer_at;
}

// The payload file's part for messages that all came through whole.
std::string decoded(const std::vector<TransferMessage>& messages) {
    std::string text;
    for (const TransferMessage& m : messages) text += HEADER_FOUND + m.text + COMPLETED + ok_line(m.text);
    return text;
}

TEST_F(LiveRun, TwoRunsDecodeWhileBytesArriveLogAllTheModemSaysAndAppendTheSecondWithoutAConsole) {
    // Two messages at the line rate; the line falls silent for 1.5 s in the
    // middle of the first transfer, where its opening words must show.  The
    // second run is `velk_lzh COM3 >&-`: if the port took the console's
    // place the modem would get the banner and echo it into both files.
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
    const std::string run_payload = SEPARATOR + decoded({first}) + REPORT + decoded({second});
    std::string original;
    std::string payload;
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE(run);
        const bool console_open = run == 1;
        start_simulator({"--pause-after", std::to_string(pause_at), "--pause-ms", "1500"}, b.text);
        start_program({"COM3"}, false, console_open);
        const std::string opening_words = payload + SEPARATOR + HEADER_FOUND + first.text.substr(0, 100);
        ASSERT_TRUE(wait_until([&] { return file("velk_payload_data.txt").starts_with(opening_words); }, 8000));
        original += SEPARATOR + replies(3);
        EXPECT_LT(file("velk_original_data.txt").size(), original.size() + first_end) << "decoded before its end";
        original += b.text;
        payload += run_payload;
        ASSERT_TRUE(wait_until([&] { return file("velk_original_data.txt").size() >= original.size(); }, 8000))
            << console();
        press_key();
        expect_clean_end(console_open);
        EXPECT_EQ(file("received.bin"), all_commands(3));
        EXPECT_EQ(file("velk_original_data.txt"), original);
        EXPECT_EQ(file("velk_payload_data.txt"), payload);
        if (!console_open) continue;
        // The replies before "velk Start\r" are shown raw as well.
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
    const std::string whole = decoded({next});
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
    EXPECT_EQ(file("velk_original_data.txt"), SEPARATOR + replies(3) + b.text);
    const std::string payload = file("velk_payload_data.txt");
    const std::string in_order =
        SEPARATOR + decoded({first}) + REPORT + decoded({second}) + HEADER_FOUND + counted.text.substr(0, 300);
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
    // has no port to go to.  A modem that answers nothing is worth a word,
    // once; a transfer under way when the run ends gets its verdict first.
    enum Modem { Answering, Silent, Sending, Lost };
    const struct {
        int stop;          // a signal, or 0 for a key
        const char* port;  // any letter case
        const char* mode;  // 4, or 3 for anything else
        int sent;
        Modem modem;
    } cases[] = {
        {SIGTERM, "COM3", "3", 3, Answering}, {SIGHUP, "com3", "4", 4, Silent}, {SIGINT, "Com3", "5", 3, Sending},
        {0, "COM3", "3", 3, Sending},         {0, "COM3", "3", 3, Lost},        {SIGTERM, "COM3", "3", 3, Lost}};
    const TransferMessage long_one = message(30000, 9);
    CaptureBuilder b;
    builder_start(b, 9);
    add_message(b, long_one, capture_options(9));
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.stop) + " modem " + std::to_string(c.modem));
        const bool port_lost = c.modem == Lost;
        remove_append_files();
        std::vector<std::string> args{"--start-delay", "0", "--rate", "3000"};
        if (c.modem == Silent) args.push_back("--silent");
        start_simulator(args, c.modem == Sending ? b.text : "");
        start_program({c.port, c.mode}, c.stop == SIGHUP || c.stop == SIGINT);
        // Run unattended, as with </dev/null: the end of input is no key.
        if (c.stop == SIGTERM) end_input();
        ASSERT_TRUE(console_shows(LISTENING)) << console();
        EXPECT_EQ(program_exit(300), -1) << "still running";
        const std::string under_way = SEPARATOR + HEADER_FOUND + long_one.text.substr(0, 100);
        if (c.modem == Sending) {
            ASSERT_TRUE(wait_until([&] { return file("velk_payload_data.txt").starts_with(under_way); }, 5000));
        }
        if (port_lost) {
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
        expect_clean_end(true, c.mode == std::string("5") ? "velk_lzh: mode 5 is neither 3 nor 4, mode 3 is used\n" : "");
        if (port_lost) {
            EXPECT_LT(Clock::now() - asked, milliseconds(1000));
        }
        EXPECT_EQ(file("received.bin"), port_lost ? start_commands(3) : all_commands(c.sent));
        EXPECT_EQ(count_of(console(), LOST), port_lost ? 1u : 0u);
        EXPECT_EQ(count_of(console(), NO_REPLY + LISTENING), c.modem == Silent ? 1u : 0u) << console();
        if (c.modem == Sending) {
            const std::string payload = file("velk_payload_data.txt");
            size_t at = SEPARATOR.size();
            const std::string verdict = expect_abandoned(payload, at, long_one, RUN_STOPPED);
            EXPECT_EQ(at, payload.size()) << "nothing after the verdict";
            EXPECT_TRUE(console().ends_with(verdict + GOODBYE)) << console().substr(console().size() - 300);
        }
    }
}

// The count behind "about a minute": the end-to-end run cannot tell 300
// passes from 299.  Only passes with a transfer under way count, so a wait
// for an announced transfer never adds to the silence of the one after it.
TEST(SilenceWatchdog, ActsOnThe301stSilentPassOfATransferUnderWay) {
    SilenceWatchdog w{};
    for (int32_t pass = 1; pass <= 300; ++pass) ASSERT_FALSE(watchdog_pass(w, true)) << pass;
    EXPECT_FALSE(watchdog_pass(w, false)) << "no transfer under way";
    for (int32_t pass = 1; pass <= 300; ++pass) ASSERT_FALSE(watchdog_pass(w, true)) << pass;
    EXPECT_TRUE(watchdog_pass(w, true));
    watchdog_heard(w);
    EXPECT_FALSE(watchdog_pass(w, true));
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
        remove_append_files();
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

TEST_F(LiveRun, AnnouncedTransferOutlastsAPauseOrALostPortAndOneUnderWayGetsItsVerdict) {
    // Between an announcement and its transfer the line falls silent for
    // 2 s, far beyond the fast build's 301 passes of about 2 ms, or the port
    // goes away for 300 ms: the transfer is still awaited.  Inside a transfer
    // the line stalls for good, or the port goes away between a report's
    // header line and its payload: the transfer gets its closing and check
    // lines.  The next message comes out whole either way, and the
    // original-data file holds all that came from the port.
    const struct {
        bool lost;                   // the port goes away, or the line falls silent
        bool inside;                 // inside the transfer, or before it
        const std::string* closing;  // of the transfer given up on
    } cases[] = {{false, false, nullptr}, {false, true, &TIMEOUT}, {true, false, nullptr}, {true, true, &PORT_LOST}};
    const std::string PAYLOAD_MARK = "###PAYLOAD2:\r\n", REPORT_END = "###PAYLOAD_END\r\n";
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.lost ? "port lost " : "silence ") + (c.inside ? "inside" : "before"));
        remove_append_files();
        TransferMessage first = message(3000, 51);
        first.identifier = "AWAITED01";
        const TransferMessage next = message(1200, 52);
        CaptureBuilder b;
        builder_start(b, 51);
        size_t at = add_announced(b, first);
        if (c.inside) {
            at = (at + b.text.size()) / 2;
            at = c.lost ? b.text.find(PAYLOAD_MARK, at) + PAYLOAD_MARK.size()
                        : b.text.find(REPORT_END, at) + REPORT_END.size();
            if (!c.lost) b.text.resize(at);  // the rest of the transfer never comes
        }
        add_noise_line(b);
        add_message(b, next, capture_options(52));

        start_simulator({"--rate", "0", c.lost ? "--vanish-after" : "--pause-after", std::to_string(at),
                         c.lost ? "--vanish-ms" : "--pause-ms", c.lost ? "300" : "2000"},
                        b.text);
        start_program({"COM3"}, true);
        const std::string last = COMPLETED + ok_line(next.text);
        ASSERT_TRUE(wait_until([&] { return file("velk_payload_data.txt").ends_with(last); }, 8000)) << console();
        press_key();
        expect_clean_end();

        EXPECT_EQ(file("received.bin"), c.lost ? start_commands(3) + all_commands(3) : all_commands(3));
        const std::string shown = console_text(), payload = file("velk_payload_data.txt");
        for (const std::string& once : {LOST, BACK}) EXPECT_EQ(count_of(shown, once), c.lost ? 1u : 0u) << once;
        EXPECT_EQ(count_of(shown, TIMEOUT), c.closing == &TIMEOUT ? 1u : 0u);
        EXPECT_EQ(payload.substr(0, SEPARATOR.size()), SEPARATOR);
        size_t read = SEPARATOR.size();
        if (c.closing) {
            const std::string verdict = expect_abandoned(payload, read, first, *c.closing);
            EXPECT_NE(shown.find(verdict + (c.lost ? LOST : "")), std::string::npos) << shown;
        } else {
            EXPECT_EQ(payload.substr(read, decoded({first}).size()), decoded({first}));
            read += decoded({first}).size();
        }
        EXPECT_EQ(payload.substr(read), decoded({next}));
        EXPECT_EQ(file("velk_original_data.txt"), SEPARATOR + sent_before_stop());
    }
}

TEST_F(LiveRun, ModemAlreadyMonitoringLosesNothingAtTheStartNorAfterAReconnect) {
    // A modem left monitoring sends its text from before the first command,
    // and again as soon as its adapter is back: the settle steps of both
    // starts read monitor text, which is logged and decoded like any other.
    // The port goes away between an announcement and its transfer, which
    // then arrives during the restart's commands.
    const CaptureOptions options = capture_options(61);
    std::vector<TransferMessage> messages;
    CaptureBuilder b;
    builder_start(b, options.seed);
    add_noise_line(b);
    size_t vanish_at = 0;
    for (uint64_t i = 0; i < 8; ++i) {
        messages.push_back(message(1500, 61 + i));
        messages.back().identifier = "MONITOR" + std::to_string(i);
        if (i == 4) vanish_at = add_announced(b, messages.back());
        else add_message(b, messages.back(), options);
        add_noise_line(b);
    }

    start_simulator({"--monitoring", "--vanish-after", std::to_string(vanish_at), "--vanish-ms", "500"}, b.text);
    start_program({"COM3"});
    const std::string last = COMPLETED + ok_line(messages.back().text);
    ASSERT_TRUE(wait_until([&] { return file("velk_payload_data.txt").ends_with(last); }, 15000)) << console();
    ASSERT_TRUE(wait_until([&] { return count_of(console(), LISTENING) == 2; }, 3000)) << console();
    ASSERT_TRUE(wait_until([&] { return file("velk_original_data.txt") == SEPARATOR + sent_before_stop(); }, 3000));
    press_key();
    expect_clean_end();

    EXPECT_EQ(file("received.bin"), start_commands(3) + all_commands(3));
    EXPECT_EQ(file("velk_original_data.txt"), SEPARATOR + sent_before_stop());
    EXPECT_EQ(file("velk_payload_data.txt"), SEPARATOR + decoded(messages));
    // Monitor text did arrive before each LISTENING line: it is shown raw.
    const std::string shown = console();
    const size_t back = shown.find(BACK), relistening = shown.find(LISTENING, back);
    ASSERT_NE(relistening, std::string::npos);
    EXPECT_NE(shown.substr(0, shown.find(LISTENING)).find("###PAYLOAD2:"), std::string::npos);
    EXPECT_NE(shown.substr(back, relistening - back).find("###PAYLOAD2:"), std::string::npos);
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
