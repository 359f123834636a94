// The entry point and the failure paths of the capture-file run, checked on
// the real executable: console text byte for byte, exit status, files made,
// and nothing at all on standard error.
#include <gtest/gtest.h>
#include <sys/stat.h>

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
    const std::string listing = dir / ".listing";
    std::system(("ls -A '" + dir.path() + "' | grep -v '^.listing$' | wc -l > '" + listing + "'").c_str());
    return std::stoul(read_file(listing));
}

TEST(CommandLine, NoArgumentPrintsUsage) {
    TempDir dir;
    const ProgramResult r = run_velk(dir, {});
    EXPECT_EQ(r.out, BANNER + USAGE);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, STATUS_NO_CAPTURE);
    EXPECT_EQ(entries_in(dir), 0u);
}

TEST(CommandLine, CaptureThatCannotBeOpened) {
    TempDir dir;
    mkdir((dir / "a_directory").c_str(), 0755);
    const std::string long_name(4000, 'x');
    for (const std::string& name : {std::string(), std::string("missing.txt"), std::string("a_directory"), long_name}) {
        SCOPED_TRACE(name.size());
        const ProgramResult r = run_velk(dir, {name});
        EXPECT_EQ(r.out, BANNER + "Unable to open file: " + name + "\n");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, STATUS_NO_CAPTURE);
    }
    EXPECT_EQ(entries_in(dir), 1u) << "no payload file may be created";
}

TEST(CommandLine, PayloadFileThatCannotBeCreated) {
    TempDir dir;
    write_file(dir / "cap.txt", "");
    mkdir((dir / "decompressed_cap.txt").c_str(), 0755);
    ProgramResult r = run_velk(dir, {"cap.txt"});
    EXPECT_EQ(r.out, BANNER + "Unable to open file : decompressed_cap.txt\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, STATUS_NO_PAYLOAD_FILE);

    // 243 characters leave no room for the prefix in a 255-character name:
    // refused as a payload file that cannot be opened, the whole name shown.
    const std::string long_name(243, 'c');
    write_file(dir / long_name, "");
    r = run_velk(dir, {long_name});
    EXPECT_EQ(r.out, BANNER + "Unable to open file : decompressed_" + long_name + "\n");
    EXPECT_EQ(r.status, STATUS_NO_PAYLOAD_FILE);
    EXPECT_EQ(entries_in(dir), 3u);
}

TEST(CommandLine, LongestCaptureNameThatFits) {
    TempDir dir;
    const std::string name(242, 'd');
    write_file(dir / name, "");
    const ProgramResult r = run_velk(dir, {name});
    EXPECT_EQ(r.out, BANNER);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(file_exists(dir / ("decompressed_" + name)));
}

TEST(CommandLine, ComInAnyCaseIsAPortEvenWhenSuchAFileExists) {
    TempDir dir;
    for (const std::string name : {"commands.txt", "Com.log", "cOM"}) {
        SCOPED_TRACE(name);
        write_file(dir / name, "LEN: 5\r\n###PAYLOAD2:\r\nhello\r\n");
        const ProgramResult r = run_velk(dir, {name});
        EXPECT_EQ(r.out, BANNER + "\r\nTrying to open COM port 0...\r\n" + "illegal comport number\n" +
                             "Can not open comport\n");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, STATUS_NO_PORT);
        EXPECT_FALSE(file_exists(dir / ("decompressed_" + name)));
    }
}

TEST(CommandLine, EmptyCaptureGivesEmptyPayloadFileOverwritingAnOldOne) {
    TempDir dir;
    write_file(dir / "empty.txt", "");
    write_file(dir / "decompressed_empty.txt", "old contents");
    const ProgramResult r = run_velk(dir, {"empty.txt"});
    EXPECT_EQ(r.out, BANNER);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_file(dir / "decompressed_empty.txt"), "");
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
    EXPECT_EQ(r.out, BANNER + console);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_file(dir / "decompressed_all.bin"), bytes);
}

TEST(CommandLine, PayloadFileLandsBesideACaptureGivenWithADirectory) {
    TempDir dir;
    mkdir((dir / "logs").c_str(), 0755);
    const std::string capture = "X\r\nLEN: 5\r\n###PAYLOAD2:\r\nhello\r\n###PAYLOAD_END\r\n";
    write_file(dir / "logs/cap.txt", capture);

    ProgramResult r = run_velk(dir, {"logs/cap.txt"});
    EXPECT_EQ(r.out, BANNER + "hello");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_file(dir / "logs/decompressed_cap.txt"), "hello");

    std::remove((dir / "logs/decompressed_cap.txt").c_str());
    r = run_velk(dir, {dir / "logs/cap.txt"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_file(dir / "logs/decompressed_cap.txt"), "hello");
    EXPECT_EQ(r.err, "");
}

TEST(OutputName, PrefixGoesBeforeTheFileNamePart) {
    char name[OUTPUT_NAME_SIZE];
    ASSERT_TRUE(build_output_name("cap.txt", name));
    EXPECT_STREQ(name, "decompressed_cap.txt");
    ASSERT_TRUE(build_output_name("logs/2026/cap.txt", name));
    EXPECT_STREQ(name, "logs/2026/decompressed_cap.txt");
    ASSERT_TRUE(build_output_name("/abs/cap", name));
    EXPECT_STREQ(name, "/abs/decompressed_cap");
    ASSERT_TRUE(build_output_name("", name));
    EXPECT_STREQ(name, "decompressed_");
    EXPECT_FALSE(build_output_name(std::string(243, 'a').c_str(), name));
    EXPECT_STREQ(name, "");
}

}  // namespace
