// Whole captures, built at test time with what each message must yield,
// decoded by the real executable.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "monitor/payload_ring.h"
#include "tests/app/velk_program.h"
#include "tests/support/message_check.h"
#include "tests/support/sample_text.h"
#include "tools/capture_builder.h"

namespace {

// What a transfer must yield after its header's line (or the no-header
// line): its text, the line that ended it and an OK check; a damaged one
// whatever it decoded and a DAMAGED check; an announcement never followed by
// its transfer (no ending) nothing.  A completed transfer ends at its EOT,
// or (`by_length`) where its count reached the stream's own length.
struct Outcome {
    std::string text, ending = COMPLETED;
    bool intact = true;
    bool announced = true;
    bool by_length = false;
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

// Where the next message's opening line stands from `from` on.
size_t next_opening(const std::string& file, size_t from) {
    return std::min(file.find(HEADER_FOUND, from), file.find(NO_HEADER, from));
}

const std::string INDEX_HEADER = "file\tsource\tbegan\tended\tend\tverdict\tcharacters\tlength\tannounced\tcrc\tsent\n";

// A run that ended well and left the text payloads, then each message as
// wanted.  The console shows the same messages with only the progress lines
// of the decoding in between, every "###" line at a line start, and at the
// end the count of the check lines.  With --messages, each check line has a
// file, holding what the payload file shows between the message's opening
// and closing lines, named in order with its verdict, and an index line
// with the check line's figures, how the transfer ended and the length shown.
void expect_messages(const CaptureRun& run, const Capture& c, int message_runs = 0, bool console_shown = true) {
    static const std::regex check_line(
        "### MESSAGE CHECK: (\\w+) \\((\\d+) OF (\\d+) CHARACTERS, CRC (\\w+), SENT (\\w+)\\)\r\n\r\n");
    static const std::regex shown_length("### UNCOMPRESSED LEN OF MESSAGE: (\\d+)\r\n");
    EXPECT_EQ(run.result.status, 0);
    EXPECT_EQ(run.result.err, "");
    const std::string &file = run.payload, &out = run.result.out;
    size_t at = next_opening(file, 0), shown_at = next_opening(out, 0), ok = 0;
    EXPECT_TRUE(file.substr(0, at) == c.b.text_payloads);
    std::vector<std::pair<std::string, std::string>> checked;  // the file's name and text, the index line's rest
    std::vector<std::string> index_rest;
    for (size_t i = 0; i < c.want.size(); ++i) {
        ASSERT_NE(at, std::string::npos) << "only " << i << " messages";
        const Outcome& w = c.want[i];
        const std::string& opening = w.announced ? HEADER_FOUND : NO_HEADER;
        EXPECT_EQ(file.compare(at, opening.size(), opening), 0) << "message " << i << " opens with the wrong line";
        const size_t from = at + opening.size();
        at = next_opening(file, from);
        const std::string got = file.substr(from, at == std::string::npos ? at : at - from);
        std::smatch shown, check;
        const auto after_opening = out.begin() + static_cast<std::ptrdiff_t>(std::min(out.size(), shown_at + opening.size()));
        const bool has_length =
            std::regex_search(after_opening, out.end(), shown, shown_length, std::regex_constants::match_continuous);
        shown_at = next_opening(out, shown_at + opening.size());
        const size_t closing = got.rfind(w.ending + "### MESSAGE CHECK: ");
        const std::string after = closing == std::string::npos ? "" : got.substr(closing + w.ending.size());
        const bool has_check = std::regex_match(after, check, check_line);
        // No ending: an announcement whose transfer never came, so nothing.
        EXPECT_TRUE(w.ending.empty() ? got.empty()
                    : w.intact       ? got == w.text + w.ending + ok_line(w.text)
                                     : has_check && check[1] == "DAMAGED")
            << "message " << i << ":\n" << got;
        if (w.ending.empty() || !has_check) continue;
        const std::string end = w.ending == STOPPING ? "bad-type" : w.ending == NEXT_HEADER ? "next-header"
                                : w.ending == END_OF_CAPTURE ? "end-of-capture" : w.by_length ? "length" : "eot";
        char name[32];
        std::snprintf(name, sizeof name, "cap.txt-%04zu-%s", checked.size() + 1, check.str(1).c_str());
        checked.emplace_back(name, got.substr(0, closing));
        index_rest.push_back("\tcap.txt\t\t\t" + end + "\t" + check.str(1) + "\t" + check.str(2) + "\t" + check.str(3) +
                             "\t" + (has_length ? shown.str(1) : "") + "\t" + check.str(4) + "\t" + check.str(5) + "\n");
        ok += check[1] == "OK";
    }
    EXPECT_EQ(at, std::string::npos) << "more messages than sent";
    if (console_shown) {
        static const std::regex progress(
            "### UNCOMPRESSED LEN OF MESSAGE: -?\\d+\r\n|\r\n### START OF COMPRESSED MESSAGE FOUND\r\n|"
            "\r\n\r\n### LOGICAL PACKET FOUND, LEN \\d+\r\n\r\n### LZHUF OUTPUT \\(on the fly\\):\r\n\r\n");
        const std::string count = counted("", checked.size(), ok);
        EXPECT_TRUE(out.starts_with(BANNER) && out.ends_with(count)) << out.substr(out.size() - std::min(out.size(), size_t{99}));
        const size_t first = std::min(out.size() - count.size(), next_opening(out, 0));
        EXPECT_TRUE(std::regex_replace(out.substr(first, out.size() - count.size() - first), progress, "") ==
                    file.substr(std::min(file.size(), next_opening(file, 0))))
            << "the console's messages differ from the payload file's";
        expect_fresh_lines(out);
    }
    if (message_runs == 0) return;
    std::map<std::string, std::string> files{{"index.tsv", INDEX_HEADER}};
    for (int k = 1; k <= message_runs; ++k) {
        for (size_t i = 0; i < checked.size(); ++i) {
            const std::string name = checked[i].first + (k > 1 ? "-" + std::to_string(k) : "") + ".txt";
            files[name] = checked[i].second;
            for (int later = k; later < message_runs; ++later) files[name] += KEPT;
            files["index.tsv"] += name + index_rest[i];
        }
    }
    EXPECT_EQ(run.files.count("index.tsv") ? run.files.at("index.tsv") : "", files["index.tsv"]);
    EXPECT_EQ(run.files.size(), files.size());
    for (const auto& [name, text] : files) EXPECT_TRUE(run.files.count(name) && run.files.at(name) == text) << name;
}

// Decoded with --messages, `runs` times into the same directory.
CaptureRun expect_decoded(const Capture& c, int runs = 1) {
    const CaptureRun run = run_capture(c.b.text, runs);
    expect_messages(run, c, runs);
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
    // The empty one is whole at its sixth byte, before its EOT.
    for (const TransferMessage& msg : messages) add(c, msg, {.text = msg.text, .by_length = msg.text.empty()});
    add_text_report(c.b, "BYE\r", 0);
    const CaptureRun run = expect_decoded(c);
    for (const char* block : {"LEN 256\r\n", "LEN 255\r\n"}) EXPECT_NE(run.result.out.find(block), std::string::npos);
}

// Damage on the way is recovered as far as it goes and reported, and costs
// only the message it hit; so does a capture that breaks off.
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
    // A flipped bit or a lost block leaves as many characters as the stream says.
    for (size_t i = 0; i < std::size(m); ++i)
        add(c, m[i], {"", i == 2 ? STOPPING : i == 4 ? NEXT_HEADER : COMPLETED, false, true, i != 2 && i != 4});
    // No EOT: the next payload byte stands where a type byte is read, yet
    // the stream is recovered whole and says so.
    const std::string no_eot = "The last block of this one has no EOT after it.\r\n";
    add(c, {.text = no_eot, .eot = false}, {no_eot, STOPPING});
    add_text_report(c.b, "BYE\r", 0);
    add(c, TransferMessage{"Disregard the damaged ones, this one is complete.\r\n"});
    // What arrived before the capture breaks off, its last report after the
    // first digit of a pair, is decoded, then closed and checked.
    TransferMessage last{.text = generated_text(6, 1200), .block_size = 120};
    last.cut_at = static_cast<int64_t>(transfer_header(last).size() + transfer_body(last).size() / 2);
    add(c, last, {"", END_OF_CAPTURE, false});
    c.b.text.resize(c.b.text.size() - std::string("D\r\n###PAYLOAD_END\r\n").size());
    expect_decoded(c);
}

// Several announcements in a row, then the transfers: every one decodes,
// each header taken as the message before it ends.  The first sixteen
// waiting announcements are remembered as labels, later ones are not (their
// transfers decode without a header).  A message announced but never sent
// only shifts the lengths shown.  A header whose length cannot be read
// leaves the last one shown: an identifier of 18 characters leaves no length
// in reach, one of 17 only its first digit.
TEST(CaptureDecoding, AnnouncedGroupsAndUnreadableLengthsDecodeEveryMessage) {
    Capture c = start_capture(17);
    std::vector<std::string> shown;
    uint64_t seed = 20;
    for (const size_t size : {2u, 3u, 4u, 5u, 16u, 17u, 20u}) {
        std::vector<TransferMessage> group;
        for (size_t i = 0; i < size; ++i) {
            group.push_back({.text = generated_text(seed++, size < 16 ? 400 + 150 * i : 120), .block_size = 120});
            c.want.push_back({.text = group.back().text, .announced = i <= 16});  // one taken, sixteen remembered
            if (i <= 16) shown.push_back(std::to_string(group.back().text.size()));
        }
        add_message_group(c.b, group, CaptureOptions{});
    }
    for (const char* identifier : {"ABCDEFGHIJKLMNOPQR", "ABCDEFGHIJKLMNOPQ", "ABCDEFGHIJKLMNOPQR"})
        add(c, {.text = generated_text(seed++, 700), .identifier = identifier});
    // Lengths are read in 64 bits and never shown negative.
    for (const char* length : {"none", "2150000003", "+77", "-5"})
        add(c, {.text = generated_text(seed++, 700), .identifier = "ABCDEFG", .length_field = length});
    add(c, {.text = generated_text(seed++, 700), .identifier = "X", .length_field = "99999999999999999"});  // to its end
    std::vector<TransferMessage> gap = {{generated_text(70, 500)}, {generated_text(71, 600)}, {generated_text(72, 700)}};
    gap[1].identifier = "NEVERSENT001";
    gap[1].cut_at = static_cast<int64_t>(transfer_header(gap[1]).size());  // announced, never sent
    add_message_group(c.b, gap, CaptureOptions{});
    c.want.insert(c.want.end(), {{gap[0].text}, {gap[2].text}, {"", "", false}});
    shown.insert(shown.end(), {"120", "7", "7", "2150000003", "77", "99999999999999999", "500", "600", "700"});
    EXPECT_EQ(shown_lengths(expect_decoded(c).result.out), shown);
}

// The "FC EM" line is a label, not a gate: a transfer sent without one, or
// with one too short to be seen before its start bytes, decodes whole; a
// cut inside an announced group forgets the group's labels, and every
// transfer after it still decodes.
TEST(CaptureDecoding, TransfersWithoutTheirHeaderAndACutInsideAGroupDecode) {
    Capture c = start_capture(19);
    const TransferMessage unannounced{.text = generated_text(80, 700), .announced = false};
    add(c, unannounced, {.text = unannounced.text, .announced = false});
    // "FC EM X 600 0 0" CR, SOH, a length, no title, NUL "0" NUL: the F
    // stands 21 bytes before the last start byte, so the line is complete
    // only inside its transfer.
    const TransferMessage short_line{.text = generated_text(81, 600), .identifier = "X", .title = ""};
    CaptureOptions no_reply;
    no_reply.reply_report = false;
    add_message(c.b, short_line, no_reply);
    c.want.push_back({.text = short_line.text, .announced = false});

    // Four announced; the second transfer is cut by a fifth announcement,
    // whose label the third transfer then wears; the fourth and the fifth
    // transfers come without labels.
    std::vector<TransferMessage> group;
    for (uint64_t i = 0; i < 5; ++i) group.push_back({.text = generated_text(90 + i, 500), .block_size = 100});
    group[4].identifier = "CUTTER000001";
    std::vector<uint8_t> headers;
    for (size_t i = 0; i < 4; ++i) {
        group[i].identifier = "GROUP" + std::to_string(i) + "000000";
        const std::vector<uint8_t> h = transfer_header(group[i]);
        headers.insert(headers.end(), h.begin(), h.end());
    }
    add_binary_reports(c.b, headers);
    add_binary_reports(c.b, transfer_body(group[0]));
    const std::vector<uint8_t> second = transfer_body(group[1]);
    // Nine bytes into its second block of 100: the line fits inside that block.
    add_binary_reports(c.b, std::vector<uint8_t>(second.begin(), second.begin() + 130));
    add_binary_reports(c.b, transfer_header(group[4]));
    for (const size_t i : {2u, 3u, 4u}) add_binary_reports(c.b, transfer_body(group[i]));
    c.want.push_back({group[0].text});
    c.want.push_back({.text = "", .ending = NEXT_HEADER, .intact = false});
    c.want.push_back({group[2].text});
    c.want.push_back({.text = group[3].text, .announced = false});
    c.want.push_back({.text = group[4].text, .announced = false});
    // A second run into the same folder adds its files and index lines.
    expect_decoded(c, 2);
}

// Reports that break the rules (rows of docs/bad_input.md) show and store
// exactly what the parser lets through, and nothing else.
TEST(BadInput, MalformedReportsGiveExactlyWhatTheyAllow) {
    // Without LEN each marker opens a payload of the two characters allowed
    // past a length of 0, far more of them than the ring holds.
    std::string markers, pairs;
    for (int i = 0; i < 100000; ++i) {
        markers += "###PAYLOAD2:ab";
        pairs += "ab";
    }
    const struct {
        std::string capture, console, payload;
    } cases[] = {
        {std::string(1 << 20, '\0'), "", ""},
        {markers, pairs, pairs},
        // A length too long for its window is read from its first 7 characters.
        {"X\r\nLEN: 99999999999\r\n###PAYLOAD2:\r\nhello world", "hello world", "hello world"},
        // A negative length leaves a text payload its two characters of grace.
        {"X\r\nLEN: -5\r\n###PAYLOAD2:\r\nhello\r\n", "", ""},
        {"X\r\nLEN: -1\r\n###PAYLOAD2:\r\nhello\r\n", "h", "h"},
        // Negative and huge types read hexadecimal (without the binary notice,
        // which only type 8 gets); a huge binary count runs to the capture's end.
        {"X\r\nTYPE: -1 LEN: 2\r\n###PAYLOAD2:\r\n41 42\r\nX\r\nTYPE: 999999 LEN: 9\r\n###PAYLOAD2:\r\n41", "", ""},
        {"X\r\nTYPE: 8 LEN: 9999999\r\n###PAYLOAD2:\r\n41 42 43", "\r### <Bin data>\r\n", ""},
        // The notice after text that left the cursor inside a line starts a line of its own.
        {"X\r\nLEN: 3\r\n###PAYLOAD2:\r\nab\r\nX\r\nTYPE: 8 LEN: 1\r\n###PAYLOAD2:\r\n41\r\n",
         "ab\n\r\r\n\r### <Bin data>\r\n", "ab\r"},
    };
    for (const auto& c : cases) {
        const CaptureRun o = run_capture(c.capture);
        EXPECT_TRUE(o.result.out == counted(BANNER + c.console)) << c.capture.substr(0, 60);
        EXPECT_TRUE(o.payload == c.payload) << c.capture.substr(0, 60);
    }
}

// Over twice the ring's worth of payload bytes, messages whose headers
// straddle the ring's size, its double and 64 KiB multiples, long text
// reports and other binary traffic between them.
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
    expect_messages(run_long(""), c, 0, false);
}

// Storage that fails ends the run at once with the status of what failed
// and a line that says what, once, on standard error: never status 0 with a
// payload file that lacks what the console announced.  So does a capture
// that fails while it is read (a failing disk, a share that went away): it
// must not pass for one that ended, whichever read fails, the first pass,
// the second or the temporary file's.
TEST(CaptureDecoding, StorageOrACaptureReadThatFailsEndsTheRunWithItsStatus) {
#ifdef VELK_READ_FAILURE
    const std::string capture_size = std::to_string(long_capture().b.text.size());
    // Descriptors: 3 the capture, 4 the payload file, 5 the temporary file.
    const std::string preload = "export ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD=" VELK_READ_FAILURE
                                " VELK_FAIL_READ=";
#endif
    const std::string CAPTURE_UNREADABLE = "\r\nUnable to read file : cap.txt (Input/output error)\r\n";
    const struct {
        std::string script, err;
        int status;
        bool before_any_message = true;
    } cases[] = {
        {"ln -s /dev/full decompressed_cap.txt; exec \"$0\" cap.txt",
         "\r\nUnable to write file : decompressed_cap.txt (No space left on device)\r\n", STATUS_NO_PAYLOAD_FILE},
        // The sanitizer build's leak check needs a descriptor of its own at the end.
        {PIPED + "(ulimit -n 5; ASAN_OPTIONS=detect_leaks=0 exec \"$0\" in.txt)",
         "Unable to write temporary file in DIR/tmp (Too many open files)\n", STATUS_NO_SPILL},
        {PIPED + "TMPDIR=$PWD/missing \"$0\" in.txt",
         "Unable to write temporary file in DIR/missing (No such file or directory)\n", STATUS_NO_SPILL},
        {PIPED + "(trap '' XFSZ; ulimit -f 100; exec \"$0\" in.txt)",  // 51200 bytes a file
         "Unable to write temporary file in DIR/tmp (File too large)\n", STATUS_NO_SPILL},
        // The folder for the messages on a full disk, or where none can be made.
        {"mkdir msgs; ln -s /dev/full msgs/index.tsv; exec \"$0\" -m msgs cap.txt",
         "\r\nUnable to write file : msgs/index.tsv (No space left on device)\r\n", STATUS_NO_MESSAGE_FILE},
        {"touch f; exec \"$0\" --messages f/msgs cap.txt", "\r\nUnable to write file : f/msgs (Not a directory)\r\n",
         STATUS_NO_MESSAGE_FILE},
#ifdef VELK_READ_FAILURE
        {preload + "3:5000; exec \"$0\" cap.txt", CAPTURE_UNREADABLE, STATUS_READ_FAILED},
        {preload + "3:" + capture_size + "0; exec \"$0\" cap.txt", "", 0, false},  // never: the whole capture reads
        {preload + "3:$((" + capture_size + " + 5000)); exec \"$0\" cap.txt", CAPTURE_UNREADABLE, STATUS_READ_FAILED,
         false},
        // The temporary file is named where it stood.
        {PIPED + "(" + preload + "5:1000; exec \"$0\" in.txt)",
         "\r\nUnable to read file : DIR/tmp/velk_spill_* (Input/output error)\r\n", STATUS_READ_FAILED, false},
#endif
    };
    static const std::regex spill_name("velk_spill_\\w+");
    for (const auto& k : cases) {
        const ProgramResult r = run_long(k.script).result;
        EXPECT_EQ(r.status, k.status) << k.script;
        EXPECT_EQ(std::regex_replace(r.err, spill_name, "velk_spill_*"), k.err) << k.script;
        EXPECT_EQ(r.out.find("Unable"), std::string::npos);
        if (k.before_any_message) {
            EXPECT_EQ(r.out.find("MESSAGE COMPLETED"), std::string::npos);
        }
    }
}

}  // namespace
