// Live runs that go as they should: the commands the modem gets, the two
// append files, decoding while a transfer arrives, the ways to stop, and the
// silence watchdog.
#include <csignal>
#include <string>

#include "tests/live/live_messages.h"
#include "tests/live/live_rig.h"

namespace live {
namespace {

const std::string REPORT = "QSL both, over";

TEST_F(LiveRun, TwoRunsCommandTheModemLogWhatArrivesAndAppend) {
    // Two messages at the line rate with a pause between them, as on the
    // air.  The pause also ends the read that completes the first message
    // before the reports after it: completing a message restarts the parser,
    // which drops the rest of a report it is in the middle of.
    const MessageSpec first = message(2500, 1);
    const MessageSpec second = message(1800, 2);
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

    std::string original;
    std::string payload;
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE(run);
        start_simulator({"--pause-after", std::to_string(pause_at), "--pause-ms", "600"}, b.text);
        start_program({"COM3"});
        original += SEPARATOR + b.text;
        ASSERT_TRUE(wait_until([&] { return file("velk_original_data.txt").size() >= original.size(); }, 8000))
            << console();
        press_key();
        EXPECT_EQ(program_exit().status, 0);
        EXPECT_EQ(simulator_exit(), 0) << "the simulator ends on \"velk Stop\\r\"";

        EXPECT_EQ(file("received.bin"), all_commands(3));
        // The modem's replies are shown, not logged: only listening passes
        // reach the original-data file, every byte as it arrived.
        EXPECT_EQ(file("velk_original_data.txt"), original);
        const std::string shown = console();
        EXPECT_EQ(shown.substr(0, console_until_listening(3, 3).size()), console_until_listening(3, 3));
        ASSERT_GE(shown.size(), GOODBYE.size());
        EXPECT_EQ(shown.substr(shown.size() - GOODBYE.size()), GOODBYE);
        EXPECT_EQ(errors(), "");

        const std::string all = file("velk_payload_data.txt");
        ASSERT_EQ(all.compare(0, payload.size(), payload), 0) << "an earlier run's part is kept as it was";
        const std::string part = all.substr(payload.size());
        const std::vector<Decoded> decoded = decoded_messages(part);
        ASSERT_EQ(decoded.size(), 2u);
        EXPECT_TRUE(whole(decoded[0], first.text));
        EXPECT_TRUE(whole(decoded[1], second.text));
        EXPECT_EQ(part, SEPARATOR + HEADER_LINE + decoded[0].text + COMPLETED_LINE + REPORT + HEADER_LINE +
                            decoded[1].text + COMPLETED_LINE);
        const std::string plain = without_progress_lines(shown);
        for (const Decoded& d : decoded) EXPECT_NE(plain.find(d.text), std::string::npos);
        payload = all;
    }
}

TEST_F(LiveRun, SecondArgumentChoosesMonitorMode) {
    const struct {
        const char* port;
        const char* mode;
        int sent;
    } cases[] = {{"COM3", "4", 4}, {"com3", "5", 3}, {"COM3", "x", 3}, {"Com3", "4x", 4}, {"COM3", "3", 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.port) + " " + c.mode);
        start_simulator({});
        start_program({c.port, c.mode}, true);
        ASSERT_TRUE(console_shows(LISTENING)) << console();
        press_key();
        EXPECT_EQ(program_exit().status, 0);
        EXPECT_EQ(simulator_exit(), 0);
        EXPECT_EQ(file("received.bin"), all_commands(c.sent));
    }
}

TEST_F(LiveRun, DecodedTextShowsWhileTheTransferIsStillArriving) {
    // About 40 kB of monitor text at 4000 characters a second: some ten
    // seconds on the line, of which the test waits for the first few.
    const MessageSpec spec = message(12000, 3);
    const std::string capture = build_capture({spec}, capture_options(3)).text;
    const std::string opening = spec.text.substr(0, 120);
    start_simulator({"--rate", "4000"}, capture);
    start_program({"COM3"});
    ASSERT_TRUE(wait_until([&] { return file("velk_payload_data.txt").find(opening) != std::string::npos; }, 8000))
        << console();
    const size_t logged = file("velk_original_data.txt").size();
    EXPECT_NE(without_progress_lines(console()).find(opening), std::string::npos);
    EXPECT_LT(logged, (SEPARATOR + capture).size() / 2) << "decoded long before the transfer's end";

    press_key();
    EXPECT_EQ(program_exit().status, 0);
    EXPECT_EQ(simulator_exit(), 0) << "sending stops on \"velk Stop\\r\"";
    const std::string original = file("velk_original_data.txt");
    EXPECT_EQ(original, (SEPARATOR + capture).substr(0, original.size()));
    EXPECT_LT(original.size(), (SEPARATOR + capture).size());
    EXPECT_EQ(errors(), "");
}

TEST_F(LiveRun, KeyPressedBeforeAnyCommandOnlyStopsTheModem) {
    start_simulator({});
    start_program({"COM3"});
    press_key();
    EXPECT_EQ(program_exit().status, 0);
    EXPECT_EQ(simulator_exit(), 0);
    EXPECT_EQ(file("received.bin"), "velk Stop\r");
    EXPECT_EQ(console(), BANNER + "\r\nTrying to open COM port 3...\r\n" + "\r\nOpen COM port 3: " + CONFIGURATION +
                             "\r\n" + FETCHING + GOODBYE);
    EXPECT_EQ(errors(), "");
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
        EXPECT_EQ(program_exit().status, 0);
        EXPECT_EQ(simulator_exit(), 0);
        EXPECT_EQ(file("received.bin"), all_commands(3));
        const std::string shown = console();
        ASSERT_GE(shown.size(), GOODBYE.size());
        EXPECT_EQ(shown.substr(shown.size() - GOODBYE.size()), GOODBYE);
        EXPECT_EQ(errors(), "");
    }
}

TEST_F(LiveRun, WatchdogAbandonsAStalledMessageAndTheNextOneDecodes) {
    // The first transfer breaks off in its third block; the line then stays
    // silent for 2.5 s, far beyond the fast build's 300 passes of about 2 ms.
    MessageSpec stalled = message(3000, 4);
    stalled.cut_at = 700;
    const MessageSpec next = message(1500, 5);
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
    ASSERT_TRUE(console_shows(COMPLETED, 10000)) << console();
    // Silence while no message is in progress: no more timeouts.
    std::this_thread::sleep_for(milliseconds(1500));
    press_key();
    EXPECT_EQ(program_exit().status, 0);

    const std::string shown = console();
    EXPECT_EQ(count_of(shown, TIMEOUT), 1u);
    const size_t timeout_at = shown.find(TIMEOUT);
    EXPECT_LT(shown.find(stalled.text.substr(0, 100)), timeout_at) << "the first message was under way";
    EXPECT_EQ(count_of(shown, HEADER_FOUND), 2u);
    EXPECT_LT(timeout_at, shown.rfind(HEADER_FOUND)) << "abandoned before the next message came";

    const std::string payload = file("velk_payload_data.txt");
    EXPECT_EQ(payload.find("TIMEOUT"), std::string::npos) << "the timeout shows on the console only";
    const std::vector<Decoded> decoded = decoded_messages(payload);
    ASSERT_EQ(decoded.size(), 2u);
    EXPECT_FALSE(decoded[0].completed);
    EXPECT_EQ(stalled.text.compare(0, decoded[0].text.size(), decoded[0].text), 0);
    EXPECT_GE(decoded[0].text.size(), 100u);
    EXPECT_TRUE(whole(decoded[1], next.text));
    EXPECT_EQ(errors(), "");
}

}  // namespace
}  // namespace live
