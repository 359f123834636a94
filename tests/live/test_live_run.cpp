// Live runs that go as they should: the commands the modem gets, the two
// append files, decoding while a transfer arrives, the ways to stop, and the
// silence watchdog.
#include <csignal>
#include <cstdio>
#include <string>
#include <sys/stat.h>

#include "app/silence_watchdog.h"
#include "tests/live/live_rig.h"

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
    const std::string decoded = SEPARATOR + HEADER_LINE + first.text + COMPLETED_LINE + ok_line(first.text) + REPORT +
                                HEADER_LINE + second.text + COMPLETED_LINE + ok_line(second.text);
    std::string original;
    std::string payload;
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE(run);
        start_simulator({"--pause-after", std::to_string(pause_at), "--pause-ms", "1500"}, b.text);
        start_program({"COM3"});
        const std::string opening_words = payload + SEPARATOR + HEADER_LINE + first.text.substr(0, 100);
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
    const std::string whole = HEADER_LINE + next.text + COMPLETED_LINE + ok_line(next.text);
    ASSERT_TRUE(wait_until([&] { return file("velk_payload_data.txt").ends_with(whole); }, 8000)) << console();
    // A second run on the same port, from a directory of its own, is refused.
    ASSERT_EQ(mkdir(path("second").c_str(), 0755), 0);
    ASSERT_EQ(symlink(path("ttyS2").c_str(), path("second/ttyS2").c_str()), 0);
    const ProgramResult refused = run_program(VELK_LZH_TESTDEV, {"COM3"}, path("second"));
    EXPECT_EQ(refused.status, 251);  // -5
    EXPECT_EQ(refused.out + refused.err, opened(3) + "unable to open comport\nCan not open comport\n");
    press_key();
    expect_clean_end();
    EXPECT_EQ(file("received.bin"), all_commands(3)) << "the refused run sent nothing";
    EXPECT_EQ(file("velk_original_data.txt"), SEPARATOR + START_REPLY + b.text);
    const std::string payload = file("velk_payload_data.txt");
    const std::string in_order = SEPARATOR + HEADER_LINE + first.text + COMPLETED_LINE + ok_line(first.text) + REPORT +
                                 HEADER_LINE + second.text + COMPLETED_LINE + ok_line(second.text) + HEADER_LINE +
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

TEST_F(LiveRun, KeyAndStopSignalsEndTheRunAlsoWhileALostPortIsAwaitedWithoutCpu) {
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
        ASSERT_TRUE(console_shows(LISTENING)) << console();
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
        expect_clean_end();
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

}  // namespace
}  // namespace live
