// Whole captures decoded by the real executable: captures are built at test
// time with the capture builder, run in a fresh directory, and the exit
// status, standard error, payload file and console are checked byte for byte.
//
// What a message must produce is worked out from its compressed form alone:
// the decoder's running count after each byte (all the framer learns from
// the decoder) says where the framer sees the message complete, and where
// each encoded step ends says what the decoder can still recover from the
// bits it was given when it is told the message is over.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "lzhuf/lzhuf_decoder.h"
#include "monitor/payload_ring.h"
#include "tests/app/velk_program.h"
#include "tests/support/sample_text.h"
#include "tests/support/stdout_capture.h"
#include "tools/capture_builder.h"
#include "tools/lzhuf_encoder.h"

namespace {

const std::string HEADER_FOUND =
    "\r\n\r\n###====== <FC EM> HEADER FOUND, STARTING LZHUF DECOMPRESSION ======###\r\n";
const std::string COMPLETED = "\r\n\r\n###====== MESSAGE COMPLETED, DECOMPRESSION FINISHED ======###\r\n\r\n";
const std::string STOPPING =
    "\r\n###====== STOPPING LZHUF DECOMPRESSION: LOGICAL PACKET NOT FOUND! ======###\r\n";

std::string packet_lines(size_t length) {
    return "\r\n\r\n### LOGICAL PACKET FOUND, LEN " + std::to_string(length) + "\r\n" +
           "\r\n### LZHUF OUTPUT (on the fly):\r\n\r\n";
}

// The decoder's count after each byte of a compressed message, fed one byte
// per call from a restart, as the framer feeds it.
std::vector<int32_t> counts_per_byte(const std::vector<uint8_t>& compressed) {
    static LzhufDecoder decoder;
    restart(decoder);
    TempStream sink;
    StdoutCapture quiet;  // the decoder prints what it decodes
    std::vector<int32_t> counts;
    for (const uint8_t byte : compressed) counts.push_back(feed_byte(decoder, byte, sink.get()));
    return counts;
}

// Characters of the steps that lie wholly within the first `bytes` bytes of
// the compressed message: everything the decoder can recover from them.
size_t chars_within(const std::vector<EncodedStep>& steps, size_t bytes) {
    const uint64_t bits = bytes > size_t{HEADER_BYTES} ? (bytes - size_t{HEADER_BYTES}) * 8u : 0;
    uint64_t chars = 0;
    for (size_t i = 0; i < steps.size() && steps[i].end_bit <= bits; ++i) chars = steps[i].chars_after;
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
    Ending ending = Ending::Unfinished;
};

// What one message must produce.  `body_sent`: how many bytes of the
// transfer's body (from its SOH on) reach the framer before the capture ends;
// -1 for all of them.  The header line always arrives whole.
MessagePlan plan_message(const TransferMessage& msg, int64_t body_sent = -1) {
    const std::string& text = msg.text;
    std::vector<EncodedStep> steps;
    const std::vector<uint8_t> compressed =
        lzhuf_compress(reinterpret_cast<const uint8_t*>(text.data()), text.size(), &steps);
    const std::vector<int32_t> counts = counts_per_byte(compressed);
    const int64_t length =
        msg.length_field.empty() ? static_cast<int64_t>(text.size()) : std::stoll(msg.length_field);
    // Beyond the text the decoder's output would be whatever the padding
    // bits decode to; no case here asks for that.
    EXPECT_LE(length, static_cast<int64_t>(text.size()));
    const size_t block = static_cast<size_t>(std::clamp(msg.block_size, 1, 256));
    const size_t arrived = body_sent < 0 ? SIZE_MAX : static_cast<size_t>(body_sent);

    MessagePlan p;
    p.console = p.payload = HEADER_FOUND;
    if (length != 0) p.console += "### UNCOMPRESSED LEN OF MESSAGE: " + std::to_string(length) + "\r\n";
    p.console += "\r\n### START OF COMPRESSED MESSAGE FOUND\r\n";
    auto show = [&](size_t upto) {
        p.console += text.substr(p.decoded, upto - p.decoded);
        p.payload += text.substr(p.decoded, upto - p.decoded);
        p.decoded = upto;
    };
    // At completion the decoder recovers what the steps within the bytes fed
    // hold, up to the announced length.
    auto end_with = [&](Ending ending, const std::string& line, size_t fed, int32_t count) {
        if (ending != Ending::Stopped)
            show(std::max(static_cast<size_t>(count), std::min(static_cast<size_t>(length), chars_within(steps, fed))));
        p.console += line;
        p.payload += line;
        p.ending = ending;
        return p;
    };

    size_t at = 2 + msg.title.size() + 3;  // body offset of the first block: SOH, size, title, NUL "0" NUL
    size_t fed = 0;
    int32_t count = 0;
    for (int32_t j = 0; fed < compressed.size(); ++j) {
        const size_t n = std::min(block, compressed.size() - fed);
        if (at + 2 > arrived) return p;
        if (j == msg.bad_type_block) return end_with(Ending::Stopped, STOPPING, fed, count);
        p.console += packet_lines(n);
        for (size_t i = 0; i < n; ++i) {
            if (at + 2 + i >= arrived) return p;
            count = counts[fed++];
            show(static_cast<size_t>(count));
            if (count >= length - 2) return end_with(Ending::ByCount, COMPLETED, fed, count);
        }
        at += 2 + n;
    }
    // Without EOT the framer would read whatever follows as a block type.
    EXPECT_TRUE(msg.eot) << "a message without EOT must complete by its count";
    if (msg.eot && at + 2 <= arrived) return end_with(Ending::ByEot, COMPLETED, fed, count);
    return p;
}

// The console text of the parsing pass, read off the capture text in the
// builder's report layout: a binary report shows one line, a text report
// its text with an LF before each CR.
std::string parse_console(const std::string& capture) {
    std::string console;
    const std::string start = "###PAYLOAD2:\r\n";
    for (size_t type_at = 0; (type_at = capture.find("TYPE: ", type_at)) != std::string::npos;) {
        size_t from = capture.find(start, type_at);
        if (from == std::string::npos) break;
        from += start.size();
        const size_t to = std::min(capture.find("\r\n###PAYLOAD_END", from), capture.size());
        if (std::atoi(capture.c_str() + type_at + 6) >= 8) {
            console += "\r### <Bin data>\r\n";
        } else {
            for (size_t i = from; i < to; ++i) console += capture[i] == '\r' ? "\n\r" : std::string(1, capture[i]);
        }
        type_at = to;
    }
    return console;
}

struct Capture {
    CaptureBuilder b;
    std::vector<MessagePlan> plans;
};

Capture start_capture(uint64_t seed) {
    Capture c;
    builder_start(c.b, seed);
    // The parser's very first character only starts it scanning.
    add_noise_line(c.b, "MON monitor on");
    return c;
}

void add_planned(Capture& c, const TransferMessage& msg) {
    add_message(c.b, msg, CaptureOptions{});
    c.plans.push_back(plan_message(msg));
}

// Runs the capture (or checks `run` made of it) against the plans; without
// `console_shown` the console is not looked at.
void expect_decoded(const Capture& c, const CaptureRun& run, bool console_shown = true) {
    std::string console = BANNER + parse_console(c.b.text);
    std::string payload = c.b.text_payloads;
    for (const MessagePlan& p : c.plans) {
        console += p.console;
        payload += p.payload;
    }
    EXPECT_EQ(run.result.status, 0);
    EXPECT_EQ(run.result.err, "");
    EXPECT_TRUE(run.payload == payload) << "payload file";
    if (console_shown) {
        EXPECT_TRUE(run.result.out == console) << "console";
    }
}

void expect_decoded(const Capture& c) { expect_decoded(c, run_capture(c.b.text)); }

// Text of `size` characters that ends in a line end, as messages do.
std::string generated_text(uint64_t seed, size_t size) { return sample_text(seed, size - 3) + ".\r\n"; }

TransferMessage message(const std::string& text, int32_t block_size = 250, bool eot = true,
                    const std::string& length_field = "") {
    TransferMessage msg;
    msg.text = text;
    msg.block_size = block_size;
    msg.eot = eot;
    msg.length_field = length_field;
    return msg;
}

// A message ends when the decoder's count reaches the announced length less
// 2, or at an EOT, whichever comes first.  Ended by EOT, everything fed is
// decoded, so the text comes out whole.  Ended by the count, the decoder
// still recovers every character whose code lies in the bytes fed so far (at
// most the announced length); only characters coded in later bytes are lost.
TEST(CaptureDecoding, SeveralMessagesEndedByCountAndByEot) {
    Capture c = start_capture(12);
    const std::string relay = "Relay to the valley stations: bring water.\r\nRelay to the valley stations";
    const struct {
        TransferMessage msg;
        Ending ending;
        size_t decoded;
    } cases[] = {
        // No EOT at all: the count alone ends it.  Its CR is recovered, its
        // final LF is coded in the byte after the one that reached the count.
        {message("Check-ins closed at 2100, thank you all.\r\n", 250, false), Ending::ByCount, 41},
        // Ends in a repeat: the final match is still held back when the blocks
        // run out, so the count never gets there and EOT ends it.
        {message(relay, 20), Ending::ByEot, relay.size()},
        // Longer texts over many blocks, the one ended by the count losing its
        // final LF the same way.
        {message(generated_text(1, 1500), 30), Ending::ByEot, 1500},
        {message(generated_text(2, 1500), 250), Ending::ByCount, 1499},
        // An announced length below the text's size: no more than that is
        // recovered, whether the count ends it or EOT does (then the held-back
        // final match is cut at the length).
        {message(relay, 250, true, "40"), Ending::ByCount, 40},
        {message("All stations, all stations, all stations", 250, true, "20"), Ending::ByEot, 20},
    };
    for (const auto& k : cases) {
        add_planned(c, k.msg);
        EXPECT_EQ(c.plans.back().ending, k.ending) << c.plans.size();
        EXPECT_EQ(c.plans.back().decoded, k.decoded) << c.plans.size();
    }
    add_text_report(c.b, "BYE\r", 0);
    expect_decoded(c);
}

TEST(CaptureDecoding, BlocksOf256And255Bytes) {
    Capture c = start_capture(14);
    add_planned(c, message(generated_text(1, 2000), 256));
    add_planned(c, message(generated_text(2, 2000), 255));
    // Every block full, the last one too: its length byte is 0 as well.
    std::string text = generated_text(3, 1400);
    auto compressed_size = [&] { return lzhuf_compress(reinterpret_cast<const uint8_t*>(text.data()), text.size()).size(); };
    while (compressed_size() > 512) text.pop_back();
    ASSERT_EQ(compressed_size(), 512u);
    add_planned(c, message(text, 256));
    add_text_report(c.b, "ACK\r", 0);
    const size_t sizes[] = {generated_text(1, 2000).size(), generated_text(2, 2000).size(), text.size()};
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(c.plans[i].decoded, sizes[i]) << "whole: " << i;
    EXPECT_NE(c.plans[0].console.find(packet_lines(256)), std::string::npos);
    EXPECT_NE(c.plans[1].console.find(packet_lines(255)), std::string::npos);
    expect_decoded(c);
}

TEST(CaptureDecoding, BadBlockTypeStopsThatMessageOnly) {
    Capture c = start_capture(15);
    TransferMessage msg = message(generated_text(4, 900), 100);
    msg.bad_type_block = 2;  // two blocks decoded, then the stop
    add_planned(c, msg);
    msg.bad_type_block = 0;  // stopped before any data
    add_planned(c, msg);
    add_planned(c, message("Disregard the last two, this one is complete.\r\n", 250));
    EXPECT_EQ(c.plans[0].ending, Ending::Stopped);
    EXPECT_GT(c.plans[0].decoded, 0u);
    EXPECT_EQ(c.plans[1].decoded, 0u);
    expect_decoded(c);
}

TEST(CaptureDecoding, CaptureEndingInsideAMessagesPayloadSection) {
    Capture c = start_capture(16);
    add_text_report(c.b, "READY\r", 0);
    TransferMessage msg = message(generated_text(6, 1200), 120);
    const std::vector<uint8_t> body = transfer_body(msg);
    add_binary_reports(c.b, transfer_header(msg));
    add_text_report(c.b, "GO AHEAD\r", 2);
    const auto sent = static_cast<ptrdiff_t>(body.size() / 2);
    add_binary_reports(c.b, std::vector<uint8_t>(body.begin(), body.begin() + sent));
    // A last report of 10 bytes (29 characters of pairs) broken off after 4
    // pairs, a blank and one digit (13 characters): 4 bytes arrive.
    add_binary_report(c.b, std::vector<uint8_t>(body.begin() + sent, body.begin() + sent + 10));
    c.b.text.resize(c.b.text.size() - std::string("\r\n###PAYLOAD_END\r\n").size() - 29 + 13);
    c.plans.push_back(plan_message(msg, sent + 4));
    EXPECT_EQ(c.plans[0].ending, Ending::Unfinished);
    EXPECT_GT(c.plans[0].decoded, 300u);
    expect_decoded(c);
}

TEST(CaptureDecoding, CaptureEndingInsideATextReport) {
    Capture c = start_capture(17);
    add_planned(c, message("Short one before the signal fades.\r\n"));
    add_text_report(c.b, "Signal fading, will call again\r", 1);
    c.b.text.resize(c.b.text.size() - std::string("again\r\r\n###PAYLOAD_END\r\n").size());
    c.b.text_payloads.resize(c.b.text_payloads.size() - std::string("again\r").size());
    expect_decoded(c);
}

// Well over twice the ring's worth of payload bytes, with messages whose
// headers straddle the ring's size, its double and 64 KiB multiples, where a
// stream handled in pieces is cut; long text reports and other binary
// traffic in between; the last message ends a few bytes before the capture.
const Capture& long_capture() {
    static const Capture capture = [] {
        Capture c = start_capture(21);
        c.b.min_report = 64;
        c.b.max_report = 512;
        CaptureRng rng{99};
        auto fill_to = [&](size_t offset) {
            std::vector<uint8_t> bytes(offset - std::min(offset, c.b.payload.size()));
            for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(rng_next(rng));
            add_binary_reports(c.b, bytes);
        };
        const size_t starts[] = {6000, 65536 - 12, PAYLOAD_RING_SIZE - 12, 131072 - 12, 2 * PAYLOAD_RING_SIZE - 12};
        const int32_t blocks[] = {250, 256, 128, 255, 200, 250};
        for (size_t i = 0; i < std::size(starts); ++i) {
            fill_to(starts[i] - 3000);
            add_text_report(c.b, generated_text(40 + i, 1500), static_cast<uint32_t>(i));
            fill_to(starts[i]);
            add_planned(c, message(generated_text(50 + i, 5000), blocks[i]));
        }
        fill_to(2 * PAYLOAD_RING_SIZE + 30000);
        add_planned(c, message(generated_text(60, 5000), blocks[5]));
        add_text_report(c.b, "BYE\r", 0);
        return c;
    }();
    return capture;
}

TEST(CaptureDecoding, LongCaptureDecodedAsIfTheRingNeverOverflowed) {
    const Capture& c = long_capture();
    for (size_t i = 0; i < c.plans.size(); ++i) EXPECT_EQ(c.plans[i].decoded, 5000u) << i;
    expect_decoded(c);
}

// The capture as cap.txt in `dir`, run by `script` in the shell with
// velk_lzh as "$0" and TMPDIR=$PWD/tmp, an empty directory.
ProgramResult run_scripted(const TempDir& dir, const std::string& capture, const std::string& script) {
    write_file(dir / "cap.txt", capture);
    EXPECT_EQ(mkdir((dir / "tmp").c_str(), 0700), 0);
    return run_program("/bin/sh", {"-c", "export TMPDIR=\"$PWD/tmp\"; " + script, VELK_LZH_PATH}, dir.path());
}

// A pipe, as a capture that cannot be read twice.
const std::string PIPED = "ln -s /dev/stdin in.txt; cat cap.txt | ";

// A regular capture is read again for decoding, so it needs no temporary
// file (and no descriptor for one); a pipe or a FIFO spills into TMPDIR,
// which is left empty.
TEST(CaptureDecoding, LongCaptureFromAFileAPipeOrAFifo) {
    const Capture& c = long_capture();
    const struct {
        std::string script, payload_file;
    } cases[] = {
        {"ulimit -n 5; TMPDIR=$PWD/missing exec \"$0\" cap.txt", "decompressed_cap.txt"},
        {PIPED + "\"$0\" in.txt", "decompressed_in.txt"},
        {"mkfifo cap.fifo; cat cap.txt >cap.fifo & exec \"$0\" cap.fifo", "decompressed_cap.fifo"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.script);
        TempDir dir;
        CaptureRun run;
        run.result = run_scripted(dir, c.b.text, k.script);
        run.payload = read_file(dir / k.payload_file);
        expect_decoded(c, run);
        EXPECT_TRUE(std::filesystem::is_empty(dir / "tmp"));
    }

    // A console that has gone away (a pager that quit) no longer ends the
    // run: the payload file is written whole.
    TempDir dir;
    write_file(dir / "cap.txt", c.b.text);
    CaptureRun run;
    run.result = run_program(VELK_LZH_PATH, {"cap.txt"}, dir.path(), true);
    run.payload = read_file(dir / "decompressed_cap.txt");
    expect_decoded(c, run, false);
}

// Storage that fails ends the run at once with the status of what failed
// and a line that says what: never status 0 with a payload file that lacks
// what the console announced.
TEST(CaptureDecoding, StorageThatFailsEndsTheRunWithItsStatus) {
    const std::string too_large = "trap '' XFSZ; ulimit -f 100; exec \"$0\" ";  // 51200 bytes a file
    const struct {
        std::string script, spill_directory, reason;  // no directory: the payload file failed
        int status;
    } cases[] = {
        {"ln -s /dev/full decompressed_cap.txt; exec \"$0\" cap.txt", "", "", STATUS_NO_PAYLOAD_FILE},
        {PIPED + "(ulimit -n 5; exec \"$0\" in.txt)", "tmp", "Too many open files", STATUS_NO_SPILL},
        {PIPED + "TMPDIR=$PWD/missing \"$0\" in.txt", "missing", "No such file or directory", STATUS_NO_SPILL},
        {PIPED + "(" + too_large + "in.txt)", "tmp", "File too large", STATUS_NO_SPILL},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.script);
        TempDir dir;
        const ProgramResult r = run_scripted(dir, long_capture().b.text, k.script);
        const std::string last_line =
            k.spill_directory.empty()
                ? "Unable to write file : decompressed_cap.txt\n"
                : "Unable to write temporary file in " + dir / k.spill_directory + " (" + k.reason + ")\n";
        EXPECT_EQ(r.status, k.status);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out.find("Unable"), r.out.size() - last_line.size()) << "once, at the end";
        EXPECT_TRUE(ends_with(r.out, last_line)) << r.out.substr(r.out.size() - std::min<size_t>(r.out.size(), 200));
        EXPECT_EQ(r.out.find("MESSAGE COMPLETED"), std::string::npos) << "nothing announced";
    }
}

}  // namespace
