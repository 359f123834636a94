// Live runs that go as they should: the commands the modem gets, the two
// append files, decoding while a transfer arrives, the ways to stop, and the
// silence watchdog.
#include <csignal>
#include <string>


#include "app/silence_watchdog.h"
#include "tests/live/live_rig.h"

namespace live {
namespace {

const std::string REPORT = "QSL both, over";

TEST_F(LiveRun, TwoRunsCommandTheModemLogWhatArrivesAndAppend) {
    // Two messages at the line rate with a pause between them, as on the
    // air.
    const TransferMessage first = message(2500, 1);
    const TransferMessage second = message(1800, 2);
    const CaptureOptions options = capture_options(7);
    CaptureBuilder b;
    builder_start(b, options.seed);
    add_noise_line(b);
    add_message(b, first, options);
    add_noise_line(b);
    const size_t pause_at = b.text.size();
    add_text_report(b, REPORT);
    add_message(b, second, options);
    add_noise_line(b);
    const std::string until_listening = BANNER + trying(3) + opening(3) + FETCHING +
                                        "velk mode 3\r\nOK\r\nvelk V 1\r\nOK\r\nvelk H 1\r\nOK\r\nvelk P 0\r\nOK\r\n"
                                        + LISTENING;
    const std::string decoded = SEPARATOR + HEADER_LINE + first.text + COMPLETED_LINE + ok_line(first.text) + REPORT +
                                HEADER_LINE + second.text + COMPLETED_LINE + ok_line(second.text);

    std::string original;
    std::string payload;
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE(run);
        start_simulator({"--pause-after", std::to_string(pause_at), "--pause-ms", "600"}, b.text);
        const auto began = Clock::now();
        start_program({"COM3"});
        original += SEPARATOR + START_REPLY + b.text;
        payload += decoded;
        ASSERT_TRUE(wait_until([&] { return file("velk_original_data.txt").size() >= original.size(); }, 8000))
            << console();
        // The simulator keeps to the line rate, 11520 characters a second.
        EXPECT_GE(Clock::now() - began, milliseconds(500 + 600 + b.text.size() * 1000 / 11520));
        press_key();
        expect_clean_end();
        EXPECT_FALSE(file_exists(path("ttyS2"))) << "the simulator removes its link at the end";
        EXPECT_EQ(file("received.bin"), all_commands(3));
        // The modem's replies to the commands before "velk Start\r" are
        // shown, not logged; from there on every byte is logged as it
        // arrived.  Each run appends its part to both files.
        EXPECT_EQ(file("velk_original_data.txt"), original);
        EXPECT_EQ(file("velk_payload_data.txt"), payload);
        const std::string shown = console_text();
        EXPECT_EQ(shown.substr(0, until_listening.size()), until_listening);
        for (const TransferMessage* m : {&first, &second}) EXPECT_NE(shown.find(m->text.substr(0, 100)), std::string::npos);
    }
}

TEST_F(LiveRun, ReadCarryingAMessageEndAndAReportKeepsArrivalOrderFromTheFirstByte) {
    // The whole capture right behind the reply to "velk Start\r", so it all
    // arrives in the settle step's read: the first message's last blocks
    // and the text report after them come in one read.
    const TransferMessage first = message(700, 11);
    const TransferMessage second = message(500, 12);
    const CaptureOptions options = capture_options(11);
    CaptureBuilder b;
    builder_start(b, options.seed);
    add_message(b, first, options);
    add_text_report(b, REPORT);
    add_message(b, second, options);
    ASSERT_LT(START_REPLY.size() + b.text.size(), 4095u) << "one read";

    start_simulator({"--rate", "0", "--start-delay", "0"}, b.text);
    start_program({"COM3"});
    ASSERT_TRUE(console_shows(LISTENING)) << console();
    press_key();
    expect_clean_end();
    EXPECT_EQ(file("velk_original_data.txt"), SEPARATOR + START_REPLY + b.text);
    EXPECT_EQ(file("velk_payload_data.txt"), SEPARATOR + HEADER_LINE + first.text + COMPLETED_LINE +
                                                 ok_line(first.text) + REPORT + HEADER_LINE + second.text +
                                                 COMPLETED_LINE + ok_line(second.text));
}

TEST_F(LiveRun, MessageEndedByCountLeavesTheRestOfItsReportToTheNextMessage) {
    // The first message's own length is shorter than its text, so its count
    // ends it inside a block; the next message's header and transfer follow
    // in the same binary report and must not be dropped with it.
    TransferMessage first = message(700, 21);
    first.stream_length = 300;
    const TransferMessage second = message(500, 22);
    std::vector<uint8_t> report;
    for (const TransferMessage& m : {first, second}) {
        for (const std::vector<uint8_t>& part : {transfer_header(m), transfer_body(m)})
            report.insert(report.end(), part.begin(), part.end());
    }
    CaptureBuilder b;
    builder_start(b, 21);
    add_noise_line(b);
    add_binary_report(b, report);

    start_simulator({"--rate", "0"}, b.text);
    start_program({"COM3"});
    const std::string second_part = HEADER_LINE + second.text + COMPLETED_LINE + ok_line(second.text);
    ASSERT_TRUE(wait_until([&] { return ends_with(file("velk_payload_data.txt"), second_part); }, 8000)) << console();
    press_key();
    expect_clean_end();
    const std::string payload = file("velk_payload_data.txt");
    const std::string first_part = SEPARATOR + HEADER_LINE + first.text.substr(0, 300);
    EXPECT_EQ(payload.substr(0, first_part.size()), first_part);
    const size_t check = payload.find("### MESSAGE CHECK: DAMAGED (");
    EXPECT_LT(check, payload.size() - second_part.size()) << "the first is told apart";
    EXPECT_EQ(count_of(payload, "### MESSAGE CHECK: "), 2u);
}

TEST_F(LiveRun, SecondArgumentChoosesMonitorMode) {
    const struct {
        const char* port;
        const char* mode;
        int sent;
    } cases[] = {{"COM3", "4", 4}, {"com3", "5", 3}, {"Com3", "x", 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.port) + " " + c.mode);
        start_simulator({});
        start_program({c.port, c.mode}, true);
        ASSERT_TRUE(console_shows(LISTENING)) << console();
        press_key();
        expect_clean_end();
        EXPECT_EQ(file("received.bin"), all_commands(c.sent));
    }
}

TEST_F(LiveRun, DecodedTextShowsWhileTheTransferIsStillArriving) {
    // About 40 kB of monitor text at 4000 characters a second: some ten
    // seconds on the line, of which the test waits for the first few.
    const TransferMessage msg = message(12000, 3);
    const std::string sent = SEPARATOR + START_REPLY + build_capture({msg}, capture_options(3)).text;
    const std::string opening_words = msg.text.substr(0, 100);
    start_simulator({"--rate", "4000"}, sent.substr(SEPARATOR.size() + START_REPLY.size()));
    start_program({"COM3"});
    ASSERT_TRUE(wait_until([&] { return file("velk_payload_data.txt").find(opening_words) != std::string::npos; },
                           8000))
        << console();
    EXPECT_NE(console_text().find(opening_words), std::string::npos);
    EXPECT_LT(file("velk_original_data.txt").size(), sent.size() / 2) << "decoded long before the transfer's end";

    press_key();
    expect_clean_end();
    const std::string original = file("velk_original_data.txt");
    EXPECT_LT(original.size(), sent.size()) << "sending stops on \"velk Stop\\r\"";
    EXPECT_EQ(original, sent.substr(0, original.size()));
}

TEST_F(LiveRun, KeyPressedBeforeAnyCommandOnlyStopsTheModem) {
    start_simulator({});
    start_program({"COM3"});
    press_key();
    expect_clean_end();
    EXPECT_EQ(file("received.bin"), "velk Stop\r");
    EXPECT_EQ(console(), BANNER + trying(3) + opening(3) + FETCHING + GOODBYE);
    EXPECT_EQ(file("velk_payload_data.txt"), SEPARATOR);
    EXPECT_EQ(file("velk_original_data.txt"), SEPARATOR);
}

TEST_F(LiveRun, StopSignalsEndTheRunLikeAKey) {
    for (const int signal_number : {SIGTERM, SIGHUP, SIGINT}) {
        SCOPED_TRACE(signal_number);
        start_simulator({});
        start_program({"COM3"}, signal_number != SIGTERM);
        ASSERT_TRUE(console_shows(LISTENING)) << console();
        signal_program(signal_number);
        expect_clean_end();
        EXPECT_EQ(file("received.bin"), all_commands(3));
    }
}

// The count behind "about a minute": the end-to-end run below cannot tell
// 300 passes from 299.
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

TEST_F(LiveRun, WatchdogAbandonsAStalledMessageAndTheNextOneDecodes) {
    // The first transfer breaks off in its third block; the line then stays
    // silent for 2.5 s, far beyond the fast build's 300 passes of about 2 ms.
    TransferMessage stalled = message(3000, 4);
    stalled.cut_at = 700;
    const TransferMessage next = message(1500, 5);
    const CaptureOptions options = capture_options(4);
    CaptureBuilder b;
    builder_start(b, options.seed);
    add_noise_line(b);
    add_message(b, stalled, options);
    const size_t silence_at = b.text.size();
    add_noise_line(b);
    add_message(b, next, options);
    add_noise_line(b);

    start_simulator({"--rate", "0", "--pause-after", std::to_string(silence_at), "--pause-ms", "2500"}, b.text);
    start_program({"COM3"}, true);
    ASSERT_TRUE(console_shows(COMPLETED_LINE, 10000)) << console();
    // Silence while no message is in progress: no more timeouts.
    std::this_thread::sleep_for(milliseconds(1500));
    press_key();
    expect_clean_end();

    const std::string shown = console();
    EXPECT_EQ(count_of(shown, TIMEOUT), 1u);
    EXPECT_LT(shown.find(stalled.text.substr(0, 100)), shown.find(TIMEOUT)) << "the first message was under way";
    EXPECT_LT(shown.find(TIMEOUT), shown.rfind(HEADER_LINE)) << "abandoned before the next message came";

    // The timeout shows on the console only; the abandoned message keeps
    // what was decoded of it.
    // The message after it comes out whole.
    const std::string payload = file("velk_payload_data.txt");
    const size_t cut_begin = SEPARATOR.size() + HEADER_LINE.size();
    const size_t next_header = payload.rfind(HEADER_LINE);
    ASSERT_GT(next_header, cut_begin) << payload;
    const std::string cut = payload.substr(cut_begin, next_header - cut_begin);
    EXPECT_EQ(payload, SEPARATOR + HEADER_LINE + cut + HEADER_LINE + next.text + COMPLETED_LINE + ok_line(next.text));
    EXPECT_GE(cut.size(), 100u);
    EXPECT_EQ(stalled.text.compare(0, cut.size(), cut), 0);
}

}  // namespace
}  // namespace live
