// The entry point and the failure paths of the capture-file run, checked on
// the real executable: console text byte for byte, exit status, files made,
// and nothing at all on standard error.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "app/output_name.h"
#include "tests/app/velk_program.h"

namespace {

const std::string USAGE =
    "VELK_lzh: ERROR:"
    "\r\nMissing input file, please append filename of capture file as first argument...\r\n"
    "Or append COM port number, e.g. COM25, for continuous monitoring using an ZRQ Korvane modem...\r\n"
    "EXAMPLE: velk_lzh COM25<Enter>\r\n"
    "Look for COM port numbers in Windows Device Manager...\r\n";

size_t entries_in(const TempDir& dir) {
    const std::filesystem::directory_iterator entries(dir.path());
    return static_cast<size_t>(std::distance(begin(entries), end(entries)));
}

TEST(CommandLine, NoArgumentPrintsUsage) {
    TempDir dir;
    expect_result(run_velk(dir, {}), BANNER + USAGE, STATUS_NO_CAPTURE);
    EXPECT_EQ(entries_in(dir), 0u);
}

TEST(CommandLine, HelpAndVersionOptionsAnswerAndEndWell) {
    TempDir dir;
    for (const char* option : {"-h", "--help"}) {
        SCOPED_TRACE(option);
        const ProgramResult r = run_velk(dir, {option});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out.substr(0, BANNER.size()), BANNER);
        EXPECT_NE(r.out.find("EXAMPLE: velk_lzh COM25<Enter>\r\n"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("ERROR"), std::string::npos) << r.out;
        EXPECT_EQ(r.err, "");
    }
    for (const char* option : {"-V", "--version"}) {
        expect_result(run_velk(dir, {option}), "VELK LZHUF-Decoder Version 1.0.6 (18-SEP-2019)\r\n", 0);
    }
    EXPECT_EQ(entries_in(dir), 0u);
}

TEST(CommandLine, CaptureThatCannotBeOpened) {
    TempDir dir;
    mkdir((dir / "a_directory").c_str(), 0755);
    const std::string long_name(4000, 'x');
    for (const std::string& name : {std::string(), std::string("missing.txt"), std::string("a_directory"), long_name}) {
        SCOPED_TRACE(name.size());
        expect_result(run_velk(dir, {name}), BANNER + "Unable to open file: " + name + "\n", STATUS_NO_CAPTURE);
    }
    EXPECT_EQ(entries_in(dir), 1u) << "no payload file may be created";
}

TEST(CommandLine, PayloadFileThatCannotBeCreated) {
    TempDir dir;
    write_file(dir / "cap.txt", "");
    mkdir((dir / "decompressed_cap.txt").c_str(), 0755);
    expect_result(run_velk(dir, {"cap.txt"}), BANNER + "Unable to open file : decompressed_cap.txt\n", STATUS_NO_PAYLOAD_FILE);

    // 243 characters leave no room for the prefix in a 255-character name:
    // refused as a payload file that cannot be opened, the whole name shown.
    const std::string long_name(243, 'c');
    write_file(dir / long_name, "");
    expect_result(run_velk(dir, {long_name}), BANNER + "Unable to open file : decompressed_" + long_name + "\n", STATUS_NO_PAYLOAD_FILE);
    EXPECT_EQ(entries_in(dir), 3u);
}

TEST(CommandLine, EmptyCaptureWithTheLongestNameThatFits) {
    // 242 characters and the prefix make the longest payload-file name, 255;
    // an old payload file is overwritten by an empty one.
    TempDir dir;
    const std::string name(242, 'd');
    write_file(dir / name, "");
    write_file(dir / ("decompressed_" + name), "old contents");
    expect_result(run_velk(dir, {name}), BANNER, 0);
    EXPECT_EQ(read_file(dir / ("decompressed_" + name)), "");
}

TEST(CommandLine, ComInAnyCaseIsAPortEvenWhenSuchAFileExists) {
    TempDir dir;
    for (const std::string name : {"commands.txt", "Com.log", "cOM"}) {
        SCOPED_TRACE(name);
        write_file(dir / name, "LEN: 5\r\n###PAYLOAD2:\r\nhello\r\n");
        expect_result(run_velk(dir, {name}), BANNER + "\r\nTrying to open COM port 0...\r\n" + "illegal comport number\n" +
                             "Can not open comport\n", STATUS_NO_PORT);
        EXPECT_FALSE(file_exists(dir / ("decompressed_" + name)));
    }
}

TEST(CommandLine, PortArgumentIsReadToIts255thCharacterOnly) {
    // 256 characters: the cut leaves "-000...0", port 0; the 256th would make it -5.
    TempDir dir;
    expect_result(run_velk(dir, {"COM-" + std::string(251, '0') + "5"}),
                  BANNER + "\r\nTrying to open COM port 0...\r\nillegal comport number\nCan not open comport\n",
                  STATUS_NO_PORT);
}

TEST(CommandLine, EveryByteValueOfTheCaptureReachesTheParser) {
    // A text payload carrying all 256 byte values: NUL, 0x1A and 0xFF must
    // all arrive, and a CR is shown on the console after an extra LF.
    std::string bytes;
    for (int b = 0x20; b < 0x120; ++b) bytes += static_cast<char>(b & 0xFF);
    TempDir dir;
    write_file(dir / "all.bin", "X\r\nLEN: 256\r\n###PAYLOAD2:\r\n" + bytes + "\r\n###PAYLOAD_END\r\n");
    const ProgramResult r = run_velk(dir, {"all.bin"});
    std::string console = bytes;
    console.insert(console.find('\r'), "\n");
    expect_result(r, BANNER + console, 0);
    EXPECT_EQ(read_file(dir / "decompressed_all.bin"), bytes);
}

TEST(CommandLine, PayloadFileLandsBesideACaptureGivenWithADirectory) {
    TempDir dir;
    mkdir((dir / "logs").c_str(), 0755);
    write_file(dir / "logs/cap.txt", "X\r\nLEN: 5\r\n###PAYLOAD2:\r\nhello\r\n###PAYLOAD_END\r\n");
    for (const std::string& capture : {std::string("logs/cap.txt"), dir / "logs/cap.txt"}) {
        std::remove((dir / "logs/decompressed_cap.txt").c_str());
        expect_result(run_velk(dir, {capture}), BANNER + "hello", 0);
        EXPECT_EQ(read_file(dir / "logs/decompressed_cap.txt"), "hello");
    }
}

TEST(OutputName, PrefixGoesBeforeTheFileNamePart) {
    const std::pair<std::string, std::string> cases[] = {{"cap.txt", "decompressed_cap.txt"},
                                                         {"logs/2026/cap.txt", "logs/2026/decompressed_cap.txt"},
                                                         {"/abs/cap", "/abs/decompressed_cap"},
                                                         {"", "decompressed_"},
                                                         {std::string(243, 'a'), ""}};
    for (const auto& [capture, expected] : cases) {
        char name[OUTPUT_NAME_SIZE];
        EXPECT_EQ(build_output_name(capture.c_str(), name), !expected.empty()) << capture;
        EXPECT_EQ(std::string(name), expected) << capture;
    }
}

}  // namespace
