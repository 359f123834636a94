// Whole captures decoded by the real executable.  Captures are built at test
// time with the capture builder, together with what each message must yield:
// an intact message comes out exactly, followed by an OK check; a damaged one
// says DAMAGED, and costs only itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "monitor/payload_ring.h"
#include "tests/app/velk_program.h"
#include "tests/support/message_check.h"
#include "tests/support/sample_text.h"
#include "tools/capture_builder.h"

namespace {

const std::string STOPPING = "\r\n###====== STOPPING LZHUF DECOMPRESSION: LOGICAL PACKET NOT FOUND! ======###\r\n";
const std::string NEXT_HEADER = "\r\n###====== STOPPING LZHUF DECOMPRESSION: NEXT HEADER FOUND ======###\r\n";

// What a header line must yield in the payload file: an intact message its
// whole text, the line that ended it and an OK check; a damaged one whatever
// it decoded, the line that ended it and a DAMAGED check; one the capture
// broke off (no ending) a good part of its text and no check.
struct Outcome {
    std::string text, ending = COMPLETED;
    bool intact = true;
};

struct Capture {
    CaptureBuilder b;
    std::vector<Outcome> want;
};

Capture start_capture(uint64_t seed) {
    Capture c;
    builder_start(c.b, seed);
    // The parser's very first character only starts it scanning.
    add_noise_line(c.b, "MON monitor on");
    return c;
}

void add(Capture& c, const TransferMessage& msg, const Outcome& want) {
    add_message(c.b, msg, CaptureOptions{});
    c.want.push_back(want);
}
void add(Capture& c, const TransferMessage& msg) { add(c, msg, {msg.text}); }

// A run that ended well and left the text payloads, then each message as
// wanted.  The console shows the same messages with only the progress lines
// of the decoding in between.
void expect_messages(const CaptureRun& run, const Capture& c, bool console_shown = true) {
    EXPECT_EQ(run.result.status, 0);
    EXPECT_EQ(run.result.err, "");
    const std::string& file = run.payload;
    size_t at = file.find(HEADER_FOUND);
    EXPECT_TRUE(file.substr(0, at) == c.b.text_payloads);
    for (size_t i = 0; i < c.want.size(); ++i) {
        ASSERT_NE(at, std::string::npos) << "only " << i << " messages";
        const size_t from = at + HEADER_FOUND.size();
        at = file.find(HEADER_FOUND, from);
        const std::string got = file.substr(from, at == std::string::npos ? at : at - from);
        const Outcome& w = c.want[i];
        const size_t check = got.rfind(w.ending + "### MESSAGE CHECK: DAMAGED (");
        EXPECT_TRUE(w.intact ? got == w.text + w.ending + ok_line(w.text)
                    : !w.ending.empty() ? check != std::string::npos && got.find("\r\n", check + w.ending.size()) + 4 == got.size()
                                        : got.size() >= w.text.size() / 4 && w.text.starts_with(got))
            << "message " << i << ":\n" << got;
    }
    EXPECT_EQ(at, std::string::npos) << "more messages than sent";
    if (!console_shown) return;
    static const std::regex progress(
        "### UNCOMPRESSED LEN OF MESSAGE: -?\\d+\r\n|\r\n### START OF COMPRESSED MESSAGE FOUND\r\n|"
        "\r\n\r\n### LOGICAL PACKET FOUND, LEN \\d+\r\n\r\n### LZHUF OUTPUT \\(on the fly\\):\r\n\r\n");
    const std::string& out = run.result.out;
    EXPECT_TRUE(out.starts_with(BANNER));
    EXPECT_TRUE(std::regex_replace(out.substr(std::min(out.size(), out.find(HEADER_FOUND))), progress, "") ==
                file.substr(std::min(file.size(), file.find(HEADER_FOUND))))
        << "the console's messages differ from the payload file's";
}

CaptureRun expect_decoded(const Capture& c) {
    const CaptureRun run = run_capture(c.b.text);
    expect_messages(run, c);
    return run;
}

// The lengths the console announces, in order.
std::vector<std::string> shown_lengths(const std::string& console) {
    static const std::regex shown("UNCOMPRESSED LEN OF MESSAGE: (-?\\d+)\r\n");
    std::vector<std::string> lengths;
    for (std::sregex_iterator it(console.begin(), console.end(), shown), end; it != end; ++it) lengths.push_back((*it)[1]);
    return lengths;
}

// Text of `size` characters that ends in a line end, as messages do.
std::string generated_text(uint64_t seed, size_t size) { return sample_text(seed, size - 3) + ".\r\n"; }

// Every message ends exactly at its own length, whatever its last step:
// a character, a final line end, a match that reaches the end; an empty
// message ends on its sixth byte.  Only the check line follows the text.
TEST(CaptureDecoding, MessagesOfEveryLengthClassComeOutWholeAndOk) {
    Capture c = start_capture(12);
    const std::string relay = "Relay to the valley stations: bring water.\r\nRelay to the valley stations";
    const TransferMessage messages[] = {
        {"A"}, {""}, {"Check-ins closed at 2100, thank you all.\r\n"},
        {.text = relay, .block_size = 20},                 // ends in a match
        {.text = std::string(300, '-'), .block_size = 7},  // one literal, then matches only
        {.text = generated_text(1, 1500), .block_size = 30}, {.text = generated_text(2, 1500), .block_size = 1},
        {.text = generated_text(3, 2000), .block_size = 256},  // full blocks: length byte 0
        {.text = generated_text(4, 2000), .block_size = 255},
        {.text = generated_text(5, 900), .length_field = "40"},  // the header's length is not the stream's
    };
    for (const TransferMessage& msg : messages) add(c, msg);
    add_text_report(c.b, "BYE\r", 0);
    const CaptureRun run = expect_decoded(c);
    for (const char* block : {"LEN 256\r\n", "LEN 255\r\n"}) EXPECT_NE(run.result.out.find(block), std::string::npos);
}

// Damage on the way is recovered as far as it goes and reported, and costs
// only the message it hit.
TEST(CaptureDecoding, DamagedTransfersSayDamagedAndTheNextMessageIsOk) {
    Capture c = start_capture(15);
    TransferMessage m[5];
    for (size_t i = 0; i < std::size(m); ++i) m[i] = {.text = generated_text(4 + i, 900), .block_size = 100};
    m[0].flip_at = 150;
    m[1].lost_block = 1;
    m[2].bad_type_block = 2;
    m[3].stream_length = 500;  // ends by count, early, and its CRC disagrees
    // Cut by the next header line 50 bytes into its first block (SOH, size,
    // title, NUL "0" NUL, STX, length before it).
    m[4].identifier = "CUTSHORT0001";
    m[4].cut_at = static_cast<int64_t>(transfer_header(m[4]).size() + 2 + m[4].title.size() + 3 + 2 + 50);
    for (size_t i = 0; i < std::size(m); ++i) add(c, m[i], {"", i == 2 ? STOPPING : i == 4 ? NEXT_HEADER : COMPLETED, false});
    // No EOT: the next payload byte stands where a type byte is read, yet
    // the stream is recovered whole and says so.
    const std::string no_eot = "The last block of this one has no EOT after it.\r\n";
    add(c, {.text = no_eot, .eot = false}, {no_eot, STOPPING});
    add_text_report(c.b, "BYE\r", 0);
    add(c, TransferMessage{"Disregard the damaged ones, this one is complete.\r\n"});
    expect_decoded(c);
}

// "FC EM" lines whose length cannot be read: the message still decodes by
// its own length; an identifier of 18 characters leaves no length in reach
// (the last one read stays shown), one of 17 only its first digit.
TEST(CaptureDecoding, HeaderLengthUnreadableStillDecodesWhole) {
    Capture c = start_capture(16);
    const char* const identifiers[] = {"ABCDEFGHIJKLMNOPQR", "ABCDEFGHIJKLMNOPQ", "ABCDEFGHIJKLMNOPQR", ""};
    for (size_t i = 0; i < std::size(identifiers); ++i) {
        const TransferMessage msg{.text = generated_text(8 + i, 700), .identifier = identifiers[i], .length_field = i == 3 ? "none" : ""};
        add(c, msg);
    }
    const CaptureRun run = expect_decoded(c);
    EXPECT_EQ(shown_lengths(run.result.out), (std::vector<std::string>{"7", "7"}));
}

// Several announcements in a row, then the transfers: every one decodes,
// each header taken as the message before it ends.  A message announced
// but never sent only shifts the lengths shown.
TEST(CaptureDecoding, AnnouncedGroupsDecodeEveryMessage) {
    Capture c = start_capture(17);
    std::vector<std::string> shown;
    for (size_t size = 2; size <= 5; ++size) {
        std::vector<TransferMessage> group;
        for (size_t i = 0; i < size; ++i) {
            group.push_back({.text = generated_text(20 + size * 8 + i, 400 + 150 * i), .block_size = 120});
            c.want.push_back({group.back().text});
            shown.push_back(std::to_string(group.back().text.size()));
        }
        add_message_group(c.b, group, CaptureOptions{});
    }
    std::vector<TransferMessage> gap = {{generated_text(70, 500)}, {generated_text(71, 600)}, {generated_text(72, 700)}};
    gap[1].identifier = "NEVERSENT001";
    gap[1].cut_at = static_cast<int64_t>(transfer_header(gap[1]).size());  // announced, never sent
    add_message_group(c.b, gap, CaptureOptions{});
    c.want.insert(c.want.end(), {{gap[0].text}, {gap[2].text}, {"", "", false}});
    shown.insert(shown.end(), {"500", "600", "700"});
    EXPECT_EQ(shown_lengths(expect_decoded(c).result.out), shown);
}

// What arrived before the capture breaks off is decoded, without a check line.
TEST(CaptureDecoding, CaptureEndingInsideAMessagesPayloadSection) {
    Capture c = start_capture(16);
    TransferMessage msg{.text = generated_text(6, 1200), .block_size = 120};
    msg.cut_at = static_cast<int64_t>(transfer_header(msg).size() + transfer_body(msg).size() / 2);
    add(c, msg, {msg.text, "", false});
    // The last report breaks off after the first digit of a hexadecimal pair.
    c.b.text.resize(c.b.text.size() - std::string("D\r\n###PAYLOAD_END\r\n").size());
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
            add(c, {.text = generated_text(50 + i, 5000), .block_size = blocks[i]});
        }
        fill_to(2 * PAYLOAD_RING_SIZE + 30000);
        add(c, {.text = generated_text(60, 5000), .block_size = blocks[5]});
        add_text_report(c.b, "BYE\r", 0);
        return c;
    }();
    return capture;
}

// The long capture as cap.txt in a fresh directory, run by `script` in the
// shell with velk_lzh as "$0" and TMPDIR=$PWD/tmp, an empty directory (left
// empty afterwards, where the run ends well); without a script, run with a
// console that has gone away, as after a pager has quit.
CaptureRun run_long(const std::string& script, const std::string& payload_file = "decompressed_cap.txt") {
    TempDir dir;
    write_file(dir / "cap.txt", long_capture().b.text);
    std::filesystem::create_directory(dir / "tmp");
    CaptureRun run;
    run.result = script.empty() ? run_program(VELK_LZH_PATH, {"cap.txt"}, dir.path(), true)
                                : run_program("/bin/sh", {"-c", "export TMPDIR=\"$PWD/tmp\"; " + script, VELK_LZH_PATH},
                                              dir.path());
    if (run.result.status == 0) {  // not otherwise: the payload file may be /dev/full
        run.payload = read_file(dir / payload_file);
        EXPECT_TRUE(std::filesystem::is_empty(dir / "tmp")) << "temporary file left";
    }
    // Where a temporary file failed, the line names the directory.
    const size_t at = run.result.err.find(dir.path());
    if (at != std::string::npos) run.result.err.replace(at, dir.path().size(), "DIR");
    return run;
}

// A pipe, as a capture that cannot be read twice.
const std::string PIPED = "ln -s /dev/stdin in.txt; cat cap.txt | ";

// Decoded as if the ring never overflowed.  A regular capture is read again
// for decoding, so it needs no temporary file (nor a descriptor for one); a
// pipe or a FIFO spills into TMPDIR.  A console that has gone away does not
// end the run.
TEST(CaptureDecoding, LongCaptureFromAFileAPipeOrAFifo) {
    const Capture& c = long_capture();
    expect_messages(run_long("ulimit -n 5; TMPDIR=$PWD/missing exec \"$0\" cap.txt"), c);
    expect_messages(run_long(PIPED + "\"$0\" in.txt", "decompressed_in.txt"), c);
    expect_messages(run_long("mkfifo cap.fifo; cat cap.txt >cap.fifo & exec \"$0\" cap.fifo", "decompressed_cap.fifo"), c);
    expect_messages(run_long(""), c, false);
}

// Storage that fails ends the run at once with the status of what failed
// and a line that says what: never status 0 with a payload file that lacks
// what the console announced.
TEST(CaptureDecoding, StorageThatFailsEndsTheRunWithItsStatus) {
    const struct {
        std::string script, last_line;
        int status;
    } cases[] = {
        {"ln -s /dev/full decompressed_cap.txt; exec \"$0\" cap.txt", "Unable to write file : decompressed_cap.txt\n",
         STATUS_NO_PAYLOAD_FILE},
        // The sanitizer build's leak check needs a descriptor of its own at the end.
        {PIPED + "(ulimit -n 5; ASAN_OPTIONS=detect_leaks=0 exec \"$0\" in.txt)",
         "Unable to write temporary file in DIR/tmp (Too many open files)\n", STATUS_NO_SPILL},
        {PIPED + "TMPDIR=$PWD/missing \"$0\" in.txt",
         "Unable to write temporary file in DIR/missing (No such file or directory)\n", STATUS_NO_SPILL},
        {PIPED + "(trap '' XFSZ; ulimit -f 100; exec \"$0\" in.txt)",  // 51200 bytes a file
         "Unable to write temporary file in DIR/tmp (File too large)\n", STATUS_NO_SPILL},
    };
    for (const auto& k : cases) {
        const ProgramResult r = run_long(k.script).result;
        EXPECT_EQ(r.status, k.status) << k.script;
        // Said once, on standard error, and no message announced before it.
        EXPECT_EQ(r.err, k.last_line);
        EXPECT_EQ(r.out.find("Unable"), std::string::npos);
        EXPECT_EQ(r.out.find("MESSAGE COMPLETED"), std::string::npos);
    }
}

}  // namespace
