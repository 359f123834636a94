// Whole captures decoded by the real executable: captures are built at test
// time with the capture builder, run in a fresh directory, and the exit
// status, standard error, payload file and console are checked byte for byte.
//
// What a message must produce is worked out from its compressed form alone:
// the decoder's running count after each byte (all the framer learns from
// the decoder) says where the framer sees the message complete, and where
// each encoded step ends says what the decoder can still recover from the
// bits it was given when it is told the message is over.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "lzhuf/lzhuf_decoder.h"
#include "monitor/payload_ring.h"
#include "tests/app/velk_program.h"
#include "tests/support/stdout_capture.h"
#include "tools/capture_builder.h"
#include "tools/lzhuf_encoder.h"

namespace {

const std::string HEADER_FOUND =
    "\r\n\r\n###====== <FC EM> HEADER FOUND, STARTING LZHUF DECOMPRESSION ======###\r\n";
const std::string COMPLETED = "\r\n\r\n###====== MESSAGE COMPLETED, DECOMPRESSION FINISHED ======###\r\n\r\n";
const std::string STOPPING =
    "\r\n###====== STOPPING LZHUF DECOMPRESSION: LOGICAL PACKET NOT FOUND! ======###\r\n";
const std::string START_FOUND = "\r\n### START OF COMPRESSED MESSAGE FOUND\r\n";
const std::string BIN_DATA = "\r### <Bin data>\r\n";

std::string packet_lines(size_t length) {
    return "\r\n\r\n### LOGICAL PACKET FOUND, LEN " + std::to_string(length) + "\r\n" +
           "\r\n### LZHUF OUTPUT (on the fly):\r\n\r\n";
}

// ---------------------------------------------------------------------------
// What one message must produce.

// The decoder's count after each byte of a compressed message, fed one byte
// per call from a restart, as the framer feeds it.
std::vector<int32_t> counts_per_byte(const std::vector<uint8_t>& compressed) {
    static LzhufDecoder decoder;
    restart(decoder);
    std::FILE* sink = std::fopen("/dev/null", "wb");
    std::vector<int32_t> counts;
    {
        StdoutCapture quiet;  // the decoder prints what it decodes
        for (const uint8_t byte : compressed) counts.push_back(feed_byte(decoder, byte, sink));
    }
    std::fclose(sink);
    return counts;
}

// Characters of the steps that lie wholly within the first `bytes` bytes of
// the compressed message: everything the decoder can recover from them.
size_t chars_within(const std::vector<EncodedStep>& steps, size_t bytes) {
    if (bytes <= static_cast<size_t>(HEADER_BYTES)) return 0;
    const uint64_t bits = (bytes - static_cast<size_t>(HEADER_BYTES)) * 8u;
    uint64_t chars = 0;
    for (const EncodedStep& s : steps) {
        if (s.end_bit > bits) break;
        chars = s.chars_after;
    }
    return static_cast<size_t>(chars);
}

enum class Ending {
    ByCount,    // the count reached the announced length - 2
    ByEot,      // EOT where the next block's STX would be
    Stopped,    // a bad block type
    Unfinished, // the capture ended first
};

struct MessagePlan {
    std::string console;  // from the header line on
    std::string payload;  // what goes into the payload file
    size_t decoded = 0;   // characters of the text that come out
    int32_t count = 0;    // the decoder's count on the last byte it was fed
    Ending ending = Ending::Unfinished;
};

// `body_sent`: how many bytes of the transfer's body (from its SOH on) reach
// the framer before the capture ends; -1 for all of them.  The header line
// always arrives whole.
MessagePlan plan_message(const MessageSpec& spec, int64_t body_sent = -1) {
    const std::string& text = spec.text;
    std::vector<EncodedStep> steps;
    const std::vector<uint8_t> compressed =
        lzhuf_compress(reinterpret_cast<const uint8_t*>(text.data()), text.size(), &steps);
    const std::vector<int32_t> counts = counts_per_byte(compressed);
    const int64_t length =
        spec.length_field.empty() ? static_cast<int64_t>(text.size()) : std::stoll(spec.length_field);
    // Beyond the text the decoder's output would be whatever the padding
    // bits decode to; no case here asks for that.
    EXPECT_LE(length, static_cast<int64_t>(text.size()));
    const size_t block = static_cast<size_t>(std::clamp(spec.block_size, 1, 256));
    const size_t prefix = 2 + spec.title.size() + 3;  // SOH, size byte, title, NUL "0" NUL
    const size_t arrived = body_sent < 0 ? SIZE_MAX : static_cast<size_t>(body_sent);

    MessagePlan p;
    p.console = HEADER_FOUND;
    p.payload = HEADER_FOUND;
    if (length != 0) p.console += "### UNCOMPRESSED LEN OF MESSAGE: " + std::to_string(length) + "\r\n";
    EXPECT_GE(arrived, prefix) << "the cases here always let the message start";
    p.console += START_FOUND;

    size_t shown = 0;
    auto show = [&](size_t upto) {
        p.console += text.substr(shown, upto - shown);
        p.payload += text.substr(shown, upto - shown);
        shown = upto;
        p.decoded = shown;
    };
    auto end_with = [&](Ending ending, const std::string& line) {
        p.console += line;
        p.payload += line;
        p.ending = ending;
    };
    // What is recovered at completion: whatever the steps within the bytes fed
    // hold, up to the announced length.
    auto recovered = [&](size_t fed, int32_t count) {
        return std::max(static_cast<size_t>(count),
                        std::min(static_cast<size_t>(length), chars_within(steps, fed)));
    };

    size_t at = prefix;  // body offset of the next block's type byte
    size_t fed = 0;
    int32_t count = 0;
    for (int32_t j = 0; fed < compressed.size(); ++j) {
        const size_t n = std::min(block, compressed.size() - fed);
        if (at + 2 > arrived) return p;
        if (j == spec.bad_type_block) {
            end_with(Ending::Stopped, STOPPING);
            return p;
        }
        p.console += packet_lines(n);
        for (size_t i = 0; i < n; ++i) {
            if (at + 2 + i >= arrived) return p;
            count = counts[fed++];
            p.count = count;
            show(static_cast<size_t>(count));
            if (count >= length - 2) {
                show(recovered(fed, count));
                end_with(Ending::ByCount, COMPLETED);
                return p;
            }
        }
        at += 2 + n;
    }
    // Without EOT the framer would read whatever follows as a block type.
    EXPECT_TRUE(spec.eot) << "a message without EOT must complete by its count";
    if (spec.eot && at + 2 <= arrived) {
        show(recovered(fed, count));
        end_with(Ending::ByEot, COMPLETED);
    }
    return p;
}

// ---------------------------------------------------------------------------
// Captures and what the run must make of them.

// The console text of the parsing pass, read off the capture text in the
// builder's report layout: a binary report shows one line, a text report
// its text with an LF before each CR.
std::string parse_console(const std::string& capture) {
    std::string console;
    const std::string start = "###PAYLOAD2:\r\n";
    size_t pos = 0;
    for (;;) {
        const size_t type_at = capture.find("TYPE: ", pos);
        if (type_at == std::string::npos) break;
        size_t from = capture.find(start, type_at);
        if (from == std::string::npos) break;
        from += start.size();
        const size_t to = std::min(capture.find("\r\n###PAYLOAD_END", from), capture.size());
        if (std::atoi(capture.c_str() + type_at + 6) >= 8) {
            console += BIN_DATA;
        } else {
            for (size_t i = from; i < to; ++i) {
                if (capture[i] == '\r') console += '\n';
                console += capture[i];
            }
        }
        pos = to;
    }
    return console;
}

struct Capture {
    CaptureBuilder b;
    CaptureOptions options;
    std::vector<MessagePlan> plans;
};

Capture start_capture(uint64_t seed) {
    Capture c;
    builder_start(c.b, seed);
    // The parser's very first character only starts it scanning.
    add_noise_line(c.b, "MON monitor on");
    return c;
}

void add_planned(Capture& c, const MessageSpec& spec) {
    add_message(c.b, spec, c.options);
    c.plans.push_back(plan_message(spec));
}

std::string expected_payload(const Capture& c) {
    std::string payload = c.b.text_payloads;
    for (const MessagePlan& p : c.plans) payload += p.payload;
    return payload;
}

std::string expected_console(const Capture& c) {
    std::string console = BANNER + parse_console(c.b.text);
    for (const MessagePlan& p : c.plans) console += p.console;
    return console;
}

// Equality of long texts, reported as the first difference with a little of
// each side instead of the whole of both.
testing::AssertionResult same_text(const std::string& actual, const std::string& expected) {
    if (actual == expected) return testing::AssertionSuccess();
    size_t at = 0;
    while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
    auto excerpt = [at](const std::string& s) {
        std::string out;
        for (size_t i = at; i < s.size() && i < at + 60; ++i) {
            const auto c = static_cast<unsigned char>(s[i]);
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += c >= 0x20 && c < 0x7F ? std::string(1, static_cast<char>(c)) : std::string(hex);
        }
        return out;
    };
    return testing::AssertionFailure() << "sizes " << actual.size() << " and " << expected.size()
                                       << ", first difference at byte " << at << "\n  actual:   \""
                                       << excerpt(actual) << "\"\n  expected: \"" << excerpt(expected) << "\"";
}

using RunOutcome = CaptureRun;

RunOutcome decode(const std::string& capture) { return run_capture(capture); }

void expect_run(const RunOutcome& run, const std::string& console, const std::string& payload) {
    EXPECT_EQ(run.result.status, 0);
    EXPECT_EQ(run.result.err, "");
    EXPECT_TRUE(same_text(run.payload, payload)) << "payload file";
    EXPECT_TRUE(same_text(run.result.out, console)) << "console";
}

void expect_decoded(const Capture& c) { expect_run(decode(c.b.text), expected_console(c), expected_payload(c)); }


// ---------------------------------------------------------------------------
// Texts.

// Plain text of about `size` characters in the style of the traffic, with
// CR LF line ends, the same for the same seed.
std::string generated_text(uint64_t seed, size_t size) {
    static const char* const WORDS[] = {
        "net",     "control", "station", "check",   "in",      "weather", "wind",     "rain",
        "north",   "south",   "relay",   "traffic", "routine", "the",     "and",      "of",
        "to",      "at",      "for",     "all",     "stations", "please", "stand",    "by",
        "message", "from",    "river",   "valley",  "bridge",  "closed", "tonight", "hours",
    };
    CaptureRng rng{seed};
    std::string text;
    size_t line = 0;
    while (text.size() < size) {
        std::string word = rng_between(rng, 0, 9) == 0 ? std::to_string(rng_between(rng, 0, 9999))
                                                        : WORDS[rng_between(rng, 0, std::size(WORDS) - 1)];
        if (rng_between(rng, 0, 11) == 0) word += '.';
        if (line + word.size() > 64) {
            text += "\r\n";
            line = 0;
        } else if (line > 0) {
            text += ' ';
            ++line;
        }
        text += word;
        line += word.size();
    }
    return text + ".\r\n";
}

MessageSpec message(const std::string& text, int32_t block_size = 250, bool eot = true) {
    MessageSpec spec;
    spec.text = text;
    spec.block_size = block_size;
    spec.eot = eot;
    return spec;
}

// ---------------------------------------------------------------------------
// Cases.

TEST(CaptureDecoding, TextPayloadsComeBeforeDecodedMessages) {
    Capture c = start_capture(11);
    add_text_report(c.b, "Before the traffic\r", 0);
    add_planned(c, message("First message: the river road is closed north of the bridge.\r\n"));
    add_text_report(c.b, "Between the messages\r", 3);
    add_noise_line(c.b);
    add_planned(c, message("Second message: all stations stand by for the weather at the hour.\r\n"));
    add_text_report(c.b, "After the traffic\r", 7);
    const RunOutcome run = decode(c.b.text);
    expect_run(run, expected_console(c), expected_payload(c));
    EXPECT_EQ(run.payload.find("Before the traffic\r"), 0u);
    EXPECT_LT(run.payload.find("After the traffic\r"), run.payload.find(HEADER_FOUND));
}

// A message ends when the decoder's count reaches the announced length less
// 2, or at an EOT, whichever comes first.  Ended by EOT, everything fed is
// decoded, so the text comes out whole.  Ended by the count, the decoder
// still recovers every character whose code lies in the bytes fed so far;
// only characters coded in later bytes are lost.
TEST(CaptureDecoding, SeveralMessagesEndedByCountAndByEot) {
    Capture c = start_capture(12);
    const std::vector<MessageSpec> specs = {
        // No EOT at all: the count alone ends it.  Its final LF is coded in
        // the byte after the one that reached the count, and is lost.
        message("Check-ins closed at 2100, thank you all.\r\n", 250, false),
        // Ends in a repeat: the final match is still held back when the blocks
        // run out, so the count never gets there and EOT ends it.
        message("Relay to the valley stations: bring water.\r\nRelay to the valley stations", 20),
        // The count is reached first, with the text whole; the EOT after it
        // passes unnoticed.
        message(generated_text(1, 1500), 30),
        message(generated_text(2, 1500), 250),
    };
    for (const MessageSpec& spec : specs) add_planned(c, spec);
    add_text_report(c.b, "BYE\r", 0);

    const std::vector<Ending> endings = {Ending::ByCount, Ending::ByEot, Ending::ByCount, Ending::ByEot};
    const std::vector<size_t> lost = {1, 0, 0, 0};
    for (size_t i = 0; i < specs.size(); ++i) {
        EXPECT_EQ(c.plans[i].ending, endings[i]) << i;
        EXPECT_EQ(c.plans[i].decoded, specs[i].text.size() - lost[i]) << i;
    }
    expect_decoded(c);
}

TEST(CaptureDecoding, TailCodedAfterTheCompletingByteIsLostButNothingBefore) {
    // When the count reaches length - 2 the decoder holds 9 to 16 bits it has
    // not used; what they code is recovered, what comes later never arrives.
    Capture c = start_capture(13);
    MessageSpec spec = message("Check-ins closed at 2100, thank you all.\r\n");
    add_planned(c, spec);
    ASSERT_EQ(c.plans[0].ending, Ending::ByCount);
    EXPECT_EQ(c.plans[0].count, static_cast<int32_t>(spec.text.size()) - 2);
    EXPECT_EQ(c.plans[0].decoded, spec.text.size() - 1) << "the CR is recovered, the LF is lost";

    // An announced length below the text's size: at most that many
    // characters are recovered, whether the count ends the message or EOT
    // does (then the held-back final match is cut at the length).
    spec.text = "Relay to the valley stations: bring water.\r\nRelay to the valley stations";
    spec.length_field = "40";
    add_planned(c, spec);
    EXPECT_EQ(c.plans[1].ending, Ending::ByCount);
    EXPECT_EQ(c.plans[1].decoded, 40u);
    spec.text = "All stations, all stations, all stations";
    spec.length_field = "20";
    add_planned(c, spec);
    EXPECT_EQ(c.plans[2].ending, Ending::ByEot);
    EXPECT_EQ(c.plans[2].decoded, 20u);
    expect_decoded(c);
}

// Compressed size of a text, as the sender would transfer it.
size_t compressed_size(const std::string& text) {
    return lzhuf_compress(reinterpret_cast<const uint8_t*>(text.data()), text.size()).size();
}

TEST(CaptureDecoding, BlocksOf256And255Bytes) {
    Capture c = start_capture(14);
    add_planned(c, message(generated_text(1, 2000), 256));
    add_planned(c, message(generated_text(2, 2000), 255));
    // Every block full, the last one too: its length byte is 0 as well.
    std::string text = generated_text(3, 1400);
    while (compressed_size(text) > 512) text.pop_back();
    ASSERT_EQ(compressed_size(text), 512u);
    add_planned(c, message(text, 256));
    add_text_report(c.b, "ACK\r", 0);
    const std::vector<size_t> sizes = {generated_text(1, 2000).size(), generated_text(2, 2000).size(), text.size()};
    for (size_t i = 0; i < sizes.size(); ++i) EXPECT_EQ(c.plans[i].decoded, sizes[i]) << "whole: " << i;
    EXPECT_NE(c.plans[0].console.find(packet_lines(256)), std::string::npos);
    EXPECT_NE(c.plans[1].console.find(packet_lines(255)), std::string::npos);
    expect_decoded(c);
}

TEST(CaptureDecoding, BadBlockTypeStopsThatMessageOnly) {
    Capture c = start_capture(15);
    MessageSpec spec = message(generated_text(4, 900), 100);
    spec.bad_type_block = 2;  // two blocks decoded, then the stop
    add_planned(c, spec);
    spec.bad_type_block = 0;  // stopped before any data
    add_planned(c, spec);
    add_planned(c, message("Disregard the last two, this one is complete.\r\n", 250));
    EXPECT_EQ(c.plans[0].ending, Ending::Stopped);
    EXPECT_GT(c.plans[0].decoded, 0u);
    EXPECT_EQ(c.plans[1].decoded, 0u);
    expect_decoded(c);
}

TEST(CaptureDecoding, CaptureEndingInsideAMessagesPayloadSection) {
    Capture c = start_capture(16);
    add_text_report(c.b, "READY\r", 0);
    MessageSpec spec = message(generated_text(6, 1200), 120);
    spec.identifier = "BULLETIN0042";
    const std::vector<uint8_t> header = transfer_header(spec);
    const std::vector<uint8_t> body = transfer_body(spec);
    add_binary_reports(c.b, header);
    add_text_report(c.b, "GO AHEAD\r", 2);
    const size_t sent = body.size() / 2;
    add_binary_reports(c.b, std::vector<uint8_t>(body.begin(), body.begin() + static_cast<ptrdiff_t>(sent)));
    // A last report of 10 bytes (29 characters of pairs) broken off after 4
    // pairs, a blank and one digit (13 characters): 4 bytes arrive.
    add_binary_report(c.b, std::vector<uint8_t>(body.begin() + static_cast<ptrdiff_t>(sent),
                                                 body.begin() + static_cast<ptrdiff_t>(sent + 10)));
    c.b.text.resize(c.b.text.size() - std::string("\r\n###PAYLOAD_END\r\n").size() - 29 + 13);
    ASSERT_EQ(c.b.text[c.b.text.size() - 2], ' ');  // ends on the first digit of the 5th pair
    c.plans.push_back(plan_message(spec, static_cast<int64_t>(sent + 4)));
    EXPECT_EQ(c.plans[0].ending, Ending::Unfinished);
    EXPECT_GT(c.plans[0].decoded, 300u);
    expect_decoded(c);
}

TEST(CaptureDecoding, CaptureEndingInsideATextReport) {
    Capture c = start_capture(17);
    add_planned(c, message("Short one before the signal fades.\r\n"));
    add_text_report(c.b, "Signal fading, will call again\r", 1);
    const size_t cut = std::string("again\r\r\n###PAYLOAD_END\r\n").size();
    c.b.text.resize(c.b.text.size() - cut);
    c.b.text_payloads.resize(c.b.text_payloads.size() - std::string("again\r").size());
    expect_decoded(c);
}

// Other binary traffic on the channel: random bytes that take the payload
// stream up to `offset` bytes.
void fill_to(Capture& c, CaptureRng& rng, size_t offset) {
    EXPECT_LE(c.b.payload.size(), offset) << "the layout of the capture needs more room";
    if (c.b.payload.size() >= offset) return;
    std::vector<uint8_t> bytes(offset - c.b.payload.size());
    for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(rng_next(rng));
    add_binary_reports(c.b, bytes);
}

// Well over twice the ring's worth of payload bytes, with messages whose
// headers straddle the ring's size, its double and 64 KiB multiples, where a
// stream handled in pieces is cut; long text reports in between; the last
// message ends a few bytes before the capture does.
const Capture& long_capture() {
    static const Capture capture = [] {
        Capture c = start_capture(21);
        c.b.min_report = 64;
        c.b.max_report = 512;
        CaptureRng rng{99};
        const size_t starts[] = {6000, 65536 - 12, PAYLOAD_RING_SIZE - 12, 131072 - 12, 2 * PAYLOAD_RING_SIZE - 12};
        const int32_t blocks[] = {250, 256, 128, 255, 200, 250};
        for (size_t i = 0; i < std::size(starts); ++i) {
            fill_to(c, rng, starts[i] - 3000);
            add_text_report(c.b, generated_text(40 + i, 1500), static_cast<uint32_t>(i));
            fill_to(c, rng, starts[i]);
            add_planned(c, message(generated_text(50 + i, 5000), blocks[i]));
        }
        fill_to(c, rng, 2 * PAYLOAD_RING_SIZE + 30000);
        add_planned(c, message(generated_text(60, 5000), blocks[5]));
        add_text_report(c.b, "BYE\r", 0);
        return c;
    }();
    return capture;
}

TEST(CaptureDecoding, LongCaptureDecodedAsIfTheRingNeverOverflowed) {
    const Capture& c = long_capture();
    ASSERT_GT(c.b.payload.size(), static_cast<size_t>(2 * PAYLOAD_RING_SIZE + 30000));
    ASSERT_EQ(c.plans.size(), 6u);
    // The last message's EOT and checksum, then only the closing "BYE\r".
    const size_t payload_size = c.b.payload.size();
    EXPECT_EQ(c.b.payload[payload_size - 6], 0x04);
    EXPECT_EQ(std::string(c.b.payload.end() - 4, c.b.payload.end()), "BYE\r");
    // Three of them end by the count with their final LF coded in a later byte.
    const size_t lost[] = {0, 1, 1, 1, 0, 0};
    for (size_t i = 0; i < c.plans.size(); ++i) {
        const size_t size = generated_text(i < 5 ? 50 + i : 60, 5000).size();
        EXPECT_EQ(c.plans[i].decoded, size - lost[i]) << i;
    }
    expect_decoded(c);
}

TEST(CaptureDecoding, CaptureThroughAFifoGivesWhatTheRegularFileGives) {
    const Capture& c = long_capture();
    TempDir dir;
    const std::string fifo = dir / "cap.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const pid_t writer = fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        const int fd = open(fifo.c_str(), O_WRONLY);
        const char* at = c.b.text.data();
        size_t left = c.b.text.size();
        while (fd >= 0 && left > 0) {
            const ssize_t n = write(fd, at, left);
            if (n <= 0) _exit(1);
            at += n;
            left -= static_cast<size_t>(n);
        }
        _exit(fd >= 0 ? 0 : 1);
    }
    RunOutcome through_fifo;
    through_fifo.result = run_velk(dir, {"cap.fifo"});
    through_fifo.payload = read_file(dir / "decompressed_cap.fifo");
    int wait_status = 0;
    if (waitpid(writer, &wait_status, WNOHANG) == 0) {
        // The program never opened or never drained the FIFO.
        kill(writer, SIGKILL);
        waitpid(writer, &wait_status, 0);
        ADD_FAILURE() << "the capture was not read to its end";
    }
    EXPECT_TRUE(WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == 0);

    const RunOutcome from_file = decode(c.b.text);
    EXPECT_EQ(through_fifo.result.status, from_file.result.status);
    EXPECT_TRUE(same_text(through_fifo.result.out, from_file.result.out));
    EXPECT_TRUE(same_text(through_fifo.payload, from_file.payload));
    expect_run(through_fifo, expected_console(c), expected_payload(c));
}

}  // namespace
