// Whole captures decoded by the real executable: captures are built at test
// time with the capture builder, run in a fresh directory, and the exit
// status, standard error, payload file and console are checked byte for byte.
//
// An intact message must come out as its text, whole, followed by an OK
// check.  Where the console breaks the text between blocks follows from the
// decoder's running count after each byte (all the framer learns from it);
// what a damaged or cut message still yields follows from where each encoded
// step ends, since the decoder recovers exactly the steps within the bytes
// it was given.
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
#include "tests/support/message_check.h"
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
const std::string NEXT_HEADER =
    "\r\n###====== STOPPING LZHUF DECOMPRESSION: NEXT HEADER FOUND ======###\r\n";

std::string packet_lines(size_t length) {
    return "\r\n\r\n### LOGICAL PACKET FOUND, LEN " + std::to_string(length) + "\r\n" +
           "\r\n### LZHUF OUTPUT (on the fly):\r\n\r\n";
}

// A stream fed to a decoder one byte per call, as the framer feeds it:
// the count after each byte, and the text that comes out (after `finish`
// to the stream's own length, when asked).
struct Decoded {
    std::vector<int32_t> counts;
    std::string text;
};

Decoded decode(const std::vector<uint8_t>& bytes, bool finished) {
    static LzhufDecoder decoder;
    restart(decoder);
    TempStream sink;
    StdoutCapture quiet;  // the decoder prints what it decodes
    Decoded d;
    for (const uint8_t byte : bytes) d.counts.push_back(feed_byte(decoder, byte, sink.get()));
    if (finished) finish(decoder, sink.get(), stream_length_limit(decoder));
    d.text = sink.contents();
    return d;
}

enum class Ending {
    ByCount,     // the count reached the stream's own length
    ByEot,       // EOT where the next block's STX would be
    Stopped,     // a bad block type
    NextHeader,  // the next announcement cut the transfer short
    Unfinished,  // the capture ended first
};

struct MessagePlan {
    std::string console;  // from the header line on
    std::string payload;  // what goes into the payload file
    std::string decoded;  // the text that comes out
    Ending ending = Ending::Unfinished;
    bool ok = false;
};

// The "HEADER FOUND" part of a message; `shown_length` is the length its
// line announces (0: none shown).
MessagePlan plan_header(int64_t shown_length) {
    MessagePlan p;
    p.console = p.payload = HEADER_FOUND;
    if (shown_length != 0) p.console += "### UNCOMPRESSED LEN OF MESSAGE: " + std::to_string(shown_length) + "\r\n";
    return p;
}

// What a message's transfer must produce.  `body_sent`: how many bytes of
// the body (from its SOH on) reach the framer before the capture ends or
// the next announcement cuts it; -1 for all.  `cut_by`: the first 24 bytes
// of that announcement, which the framer still takes as block data before
// the line is complete (empty: the capture simply ends).
void plan_transfer(MessagePlan& p, const TransferMessage& msg, int64_t body_sent = -1,
                   const std::vector<uint8_t>& cut_by = {}) {
    const std::vector<uint8_t> sent = compressed_message(msg);
    const size_t block = static_cast<size_t>(std::clamp(msg.block_size, 1, 256));
    const size_t arrived = body_sent < 0 ? SIZE_MAX : static_cast<size_t>(body_sent);

    std::vector<uint8_t> stream;  // what reaches the decoder, lost block left out
    for (size_t j = 0, offset = 0; offset < sent.size(); ++j, offset += block) {
        if (static_cast<int32_t>(j) != msg.lost_block)
            stream.insert(stream.end(), sent.begin() + static_cast<ptrdiff_t>(offset),
                          sent.begin() + static_cast<ptrdiff_t>(std::min(sent.size(), offset + block)));
    }
    const size_t cut_at = body_sent < 0 ? SIZE_MAX : static_cast<size_t>(body_sent);
    if (!cut_by.empty()) {
        // The block the cut falls in takes the announcement's first bytes.
        size_t before = 0, blocks_at = 2 + msg.title.size() + 3;
        for (size_t offset = 0; offset < sent.size() && blocks_at + 2 + std::min(block, sent.size() - offset) <= cut_at;
             offset += block) {
            before += std::min(block, sent.size() - offset);
            blocks_at += 2 + std::min(block, sent.size() - offset);
        }
        stream.resize(before + (cut_at - blocks_at - 2));
        stream.insert(stream.end(), cut_by.begin(), cut_by.end());
    }
    const Decoded fed_all = decode(stream, false);
    std::vector<uint8_t> fed;
    p.console += "\r\n### START OF COMPRESSED MESSAGE FOUND\r\n";
    auto show = [&](const std::string& upto) {
        p.console += upto.substr(p.decoded.size());
        p.payload += upto.substr(p.decoded.size());
        p.decoded = upto;
    };
    auto end_with = [&](Ending ending, const std::string& line) {
        if (ending != Ending::NextHeader) show(decode(fed, true).text);
        p.console += line;
        p.payload += line;
        const std::string check = check_line(fed, p.decoded.size());
        p.console += check;
        p.payload += check;
        p.ending = ending;
        p.ok = check.find(": OK") != std::string::npos;
    };

    size_t at = 2 + msg.title.size() + 3;  // body offset of the first block: SOH, size, title, NUL "0" NUL
    for (size_t j = 0, offset = 0; offset < sent.size(); ++j, offset += block) {
        const size_t n = std::min(block, sent.size() - offset);
        if (static_cast<int32_t>(j) == msg.lost_block) continue;
        if (at + 2 > arrived) return;
        if (static_cast<int32_t>(j) == msg.bad_type_block) return end_with(Ending::Stopped, STOPPING);
        p.console += packet_lines(n);
        for (size_t i = 0; i < n; ++i) {
            if (at + 2 + i >= arrived && cut_by.empty()) return;
            if (at + 2 + i >= arrived) {
                // The announcement's bytes are fed as block data until its
                // line is complete; the transfer is then abandoned.
                for (size_t k = 0; k < cut_by.size(); ++k) {
                    fed.push_back(cut_by[k]);
                    show(fed_all.text.substr(0, static_cast<size_t>(fed_all.counts[fed.size() - 1])));
                }
                return end_with(Ending::NextHeader, NEXT_HEADER);
            }
            fed.push_back(sent[offset + i]);
            const int32_t count = fed_all.counts[fed.size() - 1];
            show(fed_all.text.substr(0, static_cast<size_t>(count)));
            if (fed.size() >= 6 && static_cast<int64_t>(count) >= static_cast<int64_t>(length_field(fed)))
                return end_with(Ending::ByCount, COMPLETED);
        }
        at += 2 + n;
    }
    // Without EOT the next payload byte stands where a type byte is read.
    if (at + 2 <= arrived) end_with(msg.eot ? Ending::ByEot : Ending::Stopped, msg.eot ? COMPLETED : STOPPING);
}

int64_t shown_length(const TransferMessage& msg) {
    return msg.length_field.empty() ? static_cast<int64_t>(msg.text.size()) : std::atoll(msg.length_field.c_str());
}

MessagePlan plan_message(const TransferMessage& msg, int64_t body_sent = -1, const std::vector<uint8_t>& cut_by = {}) {
    MessagePlan p = plan_header(shown_length(msg));
    plan_transfer(p, msg, body_sent, cut_by);
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

// Where two long texts part, with a little of each around it.
std::string first_difference(const std::string& got, const std::string& want) {
    const size_t at = static_cast<size_t>(std::mismatch(got.begin(), got.begin() + static_cast<ptrdiff_t>(std::min(got.size(), want.size())), want.begin()).first - got.begin());
    const size_t from = at > 400 ? at - 400 : 0;
    return "differ at " + std::to_string(at) + ":\n got: " + ::testing::PrintToString(got.substr(from, 600)) +
           "\nwant: " + ::testing::PrintToString(want.substr(from, 600));
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
    EXPECT_TRUE(run.payload == payload) << "payload file " << first_difference(run.payload, payload);
    if (console_shown) {
        EXPECT_TRUE(run.result.out == console) << "console " << first_difference(run.result.out, console);
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

void expect_whole(const MessagePlan& p, const std::string& text, const std::string& what) {
    EXPECT_EQ(p.decoded, text) << what;
    EXPECT_TRUE(p.ok) << what;
}

// Every message ends exactly at its own length, whatever its last step:
// a character, a final line end, a match that reaches the end; an empty
// message ends on its sixth byte.  Only the check line follows the text.
TEST(CaptureDecoding, MessagesOfEveryLengthClassComeOutWholeAndOk) {
    Capture c = start_capture(12);
    const std::string relay = "Relay to the valley stations: bring water.\r\nRelay to the valley stations";
    const TransferMessage cases[] = {
        message("A"),
        message(""),
        message("Check-ins closed at 2100, thank you all.\r\n"),
        message(relay, 20),                         // ends in a match
        message(std::string(300, '-'), 7),          // one literal, then matches only
        message(generated_text(1, 1500), 30),
        message(generated_text(2, 1500), 1),
        message(generated_text(3, 2000), 256),      // full blocks: length byte 0
        message(generated_text(4, 2000), 255),
        message(generated_text(5, 900), 250, true, "40"),  // the header's length is not the stream's
    };
    for (const TransferMessage& msg : cases) add_planned(c, msg);
    add_text_report(c.b, "BYE\r", 0);
    for (size_t i = 0; i < std::size(cases); ++i) expect_whole(c.plans[i], cases[i].text, std::to_string(i));
    EXPECT_NE(c.plans[7].console.find(packet_lines(256)), std::string::npos);
    expect_decoded(c);
}

// Damage on the way is recovered as far as it goes and reported.
TEST(CaptureDecoding, DamagedTransfersSayDamagedAndTheNextMessageIsOk) {
    Capture c = start_capture(15);
    TransferMessage flipped = message(generated_text(4, 900), 100);
    flipped.flip_at = 150;
    TransferMessage lost = message(generated_text(5, 900), 100);
    lost.lost_block = 1;
    TransferMessage bad_type = message(generated_text(6, 900), 100);
    bad_type.bad_type_block = 2;
    TransferMessage lying = message(generated_text(7, 900), 100);
    lying.stream_length = 500;  // ends by count, early, and its CRC disagrees
    for (const TransferMessage& msg : {flipped, lost, bad_type, lying}) add_planned(c, msg);
    // No EOT: the next payload byte stands where a type byte is read, yet
    // the stream is recovered whole and says so.
    const std::string no_eot_text = "The last block of this one has no EOT after it.\r\n";
    add_planned(c, message(no_eot_text, 250, false));
    add_text_report(c.b, "BYE\r", 0);
    add_planned(c, message("Disregard the damaged ones, this one is complete.\r\n"));
    for (size_t i = 0; i < 4; ++i) EXPECT_FALSE(c.plans[i].ok) << i;
    EXPECT_EQ(c.plans[2].ending, Ending::Stopped);
    EXPECT_EQ(c.plans[3].ending, Ending::ByCount);
    // A match may carry the count past the length that stops it.
    EXPECT_TRUE(c.plans[3].decoded.size() >= 500u && c.plans[3].decoded.size() < 560u);
    EXPECT_EQ(c.plans[4].ending, Ending::Stopped);
    expect_whole(c.plans[4], no_eot_text, "no EOT");
    EXPECT_TRUE(c.plans[5].ok);
    expect_decoded(c);
}

// "FC EM" lines whose length cannot be read: the message still decodes by
// its own length; only the announced length shown differs.
TEST(CaptureDecoding, HeaderLengthUnreadableStillDecodesWhole) {
    Capture c = start_capture(16);
    TransferMessage first = message(generated_text(8, 700));
    first.identifier = "ABCDEFGHIJKLMNOPQ";  // 17 characters: one digit is in reach
    TransferMessage second = message(generated_text(9, 700));
    second.identifier = "ABCDEFGHIJKLMNOPQR";  // 18: no blank in reach, the last length stays
    TransferMessage third = message(generated_text(10, 700), 250, true, "none");
    for (const TransferMessage& msg : {first, second, third}) {
        add_message(c.b, msg, CaptureOptions{});
        c.plans.push_back(plan_header(0));
        plan_transfer(c.plans.back(), msg);
        expect_whole(c.plans.back(), msg.text, msg.identifier);
    }
    const std::string digit = std::to_string(first.text.size()).substr(0, 1);
    c.plans[0] = plan_header(std::stoll(digit));
    plan_transfer(c.plans[0], first);
    c.plans[1] = plan_header(std::stoll(digit));
    plan_transfer(c.plans[1], second);
    expect_decoded(c);
}

// Several announcements in a row, then the transfers: every one decodes,
// each header taken as the message before it ends.  A message announced
// but never sent only shifts the lengths shown.
TEST(CaptureDecoding, AnnouncedGroupsDecodeEveryMessage) {
    Capture c = start_capture(17);
    for (int32_t size = 2; size <= 5; ++size) {
        std::vector<TransferMessage> group;
        for (size_t i = 0; i < static_cast<size_t>(size); ++i)
            group.push_back(message(generated_text(20u + static_cast<size_t>(size) * 8u + i, 400 + 150 * i), 120));
        add_message_group(c.b, group, CaptureOptions{});
        for (const TransferMessage& msg : group) c.plans.push_back(plan_message(msg));
    }
    std::vector<TransferMessage> gap = {message(generated_text(70, 500)), message(generated_text(71, 600)),
                                        message(generated_text(72, 700))};
    gap[1].identifier = "NEVERSENT001";
    gap[1].cut_at = static_cast<int64_t>(transfer_header(gap[1]).size());  // announced, never sent
    add_message_group(c.b, gap, CaptureOptions{});
    c.plans.push_back(plan_message(gap[0]));
    c.plans.push_back(plan_header(shown_length(gap[1])));
    plan_transfer(c.plans.back(), gap[2]);
    c.plans.push_back(plan_header(shown_length(gap[2])));
    for (size_t i = 0; i + 1 < c.plans.size(); ++i) EXPECT_TRUE(c.plans[i].ok) << i;
    expect_decoded(c);
}

// A transfer cut short by the next announcement costs only itself.
TEST(CaptureDecoding, TransferCutByTheNextHeaderCostsOnlyItself) {
    Capture c = start_capture(18);
    TransferMessage cut = message(generated_text(11, 1200), 250);
    cut.identifier = "CUTSHORT0001";
    const int64_t header_size = static_cast<int64_t>(transfer_header(cut).size());
    const int64_t body_sent = 2 + static_cast<int64_t>(cut.title.size()) + 3 + 2 + 100;  // 100 bytes into block 0
    cut.cut_at = header_size + body_sent;
    TransferMessage next = message(generated_text(12, 800));
    next.identifier = "NEXTMSG00001";
    add_message(c.b, cut, CaptureOptions{});
    add_message(c.b, next, CaptureOptions{});
    const std::vector<uint8_t> next_header = transfer_header(next);
    c.plans.push_back(plan_message(cut, body_sent, std::vector<uint8_t>(next_header.begin(), next_header.begin() + 24)));
    c.plans.push_back(plan_message(next));
    EXPECT_EQ(c.plans[0].ending, Ending::NextHeader);
    EXPECT_FALSE(c.plans[0].ok);
    expect_whole(c.plans[1], next.text, "after the cut");
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
    EXPECT_GT(c.plans[0].decoded.size(), 300u);
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
    for (size_t i = 0; i < c.plans.size(); ++i) EXPECT_TRUE(c.plans[i].ok && c.plans[i].decoded.size() == 5000u) << i;
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
        // The sanitizer build's leak check needs a descriptor of its own at the end.
        {PIPED + "(ulimit -n 5; ASAN_OPTIONS=detect_leaks=0 exec \"$0\" in.txt)", "tmp", "Too many open files",
         STATUS_NO_SPILL},
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
