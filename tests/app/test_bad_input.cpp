// Hostile and malformed input, one test per row of docs/bad_input.md: what
// the user sees, the exit status, nothing on standard error, and no
// decodable byte lost.  In the sanitizer build the executable runs under
// ASan + UBSan, so a write past a buffer fails these tests too.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>

#include "tests/app/velk_program.h"
#include "tests/support/sample_text.h"
#include "tools/capture_builder.h"

namespace {

const std::string HEADER_FOUND =
    "\r\n\r\n###====== <FC EM> HEADER FOUND, STARTING LZHUF DECOMPRESSION ======###\r\n";
const std::string COMPLETED = "\r\n\r\n###====== MESSAGE COMPLETED, DECOMPRESSION FINISHED ======###\r\n\r\n";

// A run that must end normally and print nothing on standard error.
CaptureRun decode_capture(const std::string& capture) {
    CaptureRun o = run_capture(capture);
    EXPECT_EQ(o.result.err, "");
    EXPECT_EQ(o.result.status, 0);
    return o;
}

// Messages alone: no text reports, whose payloads would come first in the
// payload file.
CaptureOptions messages_only(uint64_t seed) {
    CaptureOptions options;
    options.seed = seed;
    options.max_text_reports = 0;
    options.reply_report = false;
    return options;
}

TEST(BadInput, RandomAndNulBytes) {
    CaptureRng rng{99};
    std::string capture(1 << 20, '\0');
    CaptureRun o = decode_capture(capture);
    EXPECT_EQ(o.result.out, BANNER);
    EXPECT_EQ(o.payload, "");
    for (char& c : capture) c = static_cast<char>(rng_next(rng));
    o = decode_capture(capture);
    EXPECT_EQ(o.result.out.substr(0, BANNER.size()), BANNER);
}

TEST(BadInput, EndlessStartMarkersWithoutHeaders) {
    // No LEN: each payload is the two characters allowed past a length of 0.
    std::string capture, expected;
    for (int i = 0; i < 100000; ++i) {
        capture += "###PAYLOAD2:ab";
        expected += "ab";
    }
    const CaptureRun o = decode_capture(capture);
    EXPECT_EQ(o.payload, expected);
    EXPECT_EQ(o.result.out, BANNER + expected);
}

TEST(BadInput, HugeAndNegativeLengthsAndTypes) {
    const struct {
        std::string capture, console, payload;
    } cases[] = {
        // A length too long for its window is read from its first 7 characters.
        {"X\r\nLEN: 99999999999\r\n###PAYLOAD2:\r\nhello world", "hello world", "hello world"},
        // A negative length leaves a text payload its two characters of grace.
        {"X\r\nLEN: -5\r\n###PAYLOAD2:\r\nhello\r\n", "", ""},
        {"X\r\nLEN: -1\r\n###PAYLOAD2:\r\nhello\r\n", "h", "h"},
        // Negative and huge types read hexadecimal (without the binary notice,
        // which only type 8 gets); a huge binary count runs to the capture's end.
        {"X\r\nTYPE: -1 LEN: 2\r\n###PAYLOAD2:\r\n41 42\r\nX\r\nTYPE: 999999 LEN: 9\r\n###PAYLOAD2:\r\n41", "", ""},
        {"X\r\nTYPE: 8 LEN: 9999999\r\n###PAYLOAD2:\r\n41 42 43", "\r### <Bin data>\r\n", ""},
    };
    for (const auto& c : cases) {
        const CaptureRun o = decode_capture(c.capture);
        EXPECT_EQ(o.result.out, BANNER + c.console) << c.capture;
        EXPECT_EQ(o.payload, c.payload) << c.capture;
    }
}

TEST(BadInput, HexPayloadsWithOddSeparators) {
    // The separator's value is ignored: any character there, even CR, '#'
    // or a hex digit's neighbour 'G', gives exactly the output of blanks.
    TransferMessage msg;
    msg.text = sample_text(5, 3000);
    CaptureOptions options;
    options.seed = 5;
    const std::string plain = build_capture({msg}, options).text;
    const std::regex hex_line("###PAYLOAD2:\r\n((?:[0-9A-F]{2} )*[0-9A-F]{2})\r\n");
    std::string odd = plain;
    const char separators[] = "\t-z#G\r_~";
    size_t k = 0;
    for (std::sregex_iterator it(plain.begin(), plain.end(), hex_line), end; it != end; ++it) {
        for (auto i = it->position(1) + 2; i < it->position(1) + it->length(1); i += 3)
            odd[static_cast<size_t>(i)] = separators[k++ % (sizeof separators - 1)];
    }
    ASSERT_GT(k, 1000u) << "the capture must carry many separators";

    const CaptureRun expected = decode_capture(plain);
    const CaptureRun actual = decode_capture(odd);
    EXPECT_NE(expected.payload.find(msg.text.substr(0, 2990)), std::string::npos);
    EXPECT_EQ(actual.payload, expected.payload);
    EXPECT_EQ(actual.result.out, expected.result.out);
}

TEST(BadInput, CorruptCompressedDataThenAnIntactMessage) {
    TransferMessage broken;
    broken.text = sample_text(6, 2000);
    TransferMessage intact;
    intact.text = sample_text(7, 1500);
    std::vector<uint8_t> body = transfer_body(broken);
    // Hit only block data: the blocks (STX, length, 250 data bytes) follow
    // SOH, the size byte, the title and NUL "0" NUL; the final EOT and
    // checksum stay too.
    const size_t first_block = 5 + broken.title.size();
    for (size_t i = first_block; i + 2 < body.size(); ++i) {
        if ((i - first_block) % 252 >= 2 && i % 7 == 0) body[i] ^= 0x5A;
    }

    CaptureBuilder b;
    builder_start(b, 6);
    add_noise_line(b);
    add_binary_reports(b, transfer_header(broken));
    add_binary_reports(b, body);
    add_message(b, intact, messages_only(6));
    const CaptureRun o = decode_capture(b.text);
    EXPECT_EQ(o.payload.substr(0, HEADER_FOUND.size()), HEADER_FOUND);
    const size_t first_check = o.payload.find("### MESSAGE CHECK: ");
    ASSERT_NE(first_check, std::string::npos);
    EXPECT_EQ(o.payload.compare(first_check, 27, "### MESSAGE CHECK: DAMAGED "), 0) << "the corrupt one is told apart";
    const std::string survivor = HEADER_FOUND + intact.text + COMPLETED + "### MESSAGE CHECK: OK (";
    EXPECT_NE(o.payload.find(survivor), std::string::npos) << "the next message must survive whole";
}

TEST(BadInput, HeaderWithoutALength) {
    // An identifier of 18 characters leaves no blank before the length: no
    // length is announced, and the stream's own length ends the message.
    TransferMessage msg;
    msg.text = sample_text(8, 800);
    msg.identifier = "ABCDEFGHIJKLMNOPQR";
    const CaptureRun o = decode_capture(build_capture({msg}, messages_only(8)).text);
    const std::string whole = HEADER_FOUND + msg.text + COMPLETED + "### MESSAGE CHECK: OK (800 OF 800 CHARACTERS,";
    EXPECT_EQ(o.payload.substr(0, whole.size()), whole);
    EXPECT_EQ(o.result.out.find("UNCOMPRESSED LEN"), std::string::npos);
}

TEST(BadInput, LongArgumentNamingAnExistingCapture) {
    // 256 and more characters through directories: the capture opens, but
    // the payload file's name cannot be built; the whole name is shown.
    TempDir dir;
    std::string path = std::string(120, 'a');
    mkdir((dir / path).c_str(), 0755);
    path += "/" + std::string(120, 'b');
    mkdir((dir / path).c_str(), 0755);
    const std::string capture = path + "/" + std::string(14, 'c');
    ASSERT_EQ(capture.size(), 256u);
    write_file(dir / capture, "");
    expect_result(run_velk(dir, {capture}),
                  BANNER + "Unable to open file : " + path + "/decompressed_" + std::string(14, 'c') + "\n",
                  STATUS_NO_PAYLOAD_FILE);
}

TEST(BadInput, NonAsciiBytesInTheArgument) {
    TempDir dir;
    const std::string name = "caf\xC3\xA9_\xFF_com.txt";
    write_file(dir / name, "X\r\nLEN: 2\r\n###PAYLOAD2:\r\n\xE9\xFF\r\n");
    expect_result(run_velk(dir, {name}), BANNER + "\xE9\xFF", 0);
    EXPECT_EQ(read_file(dir / ("decompressed_" + name)), "\xE9\xFF");
}

TEST(BadInput, DeviceAsCapture) {
    // /dev/null reads as an empty capture; through a link the payload file
    // lands beside the link.
    TempDir dir;
    ASSERT_EQ(symlink("/dev/null", (dir / "null_link").c_str()), 0);
    expect_result(run_velk(dir, {"null_link"}), BANNER, 0);
    EXPECT_TRUE(file_exists(dir / "decompressed_null_link"));
}

}  // namespace
