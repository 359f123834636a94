// The entry point and the failure paths of the capture-file run, checked on
// the real executable: console text byte for byte, exit status, files made,
// and on standard error only the lines of a failure that ended the run.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "tests/app/velk_program.h"

namespace {

const std::string USAGE =
    "VELK_lzh: ERROR:"
    "\r\nMissing input file, please append filename of capture file as first argument...\r\n"
    "Or append COM port number, e.g. COM25, for continuous monitoring using an ZRQ Korvane modem...\r\n"
    "EXAMPLE: velk_lzh COM25<Enter>\r\n"
    "Look for COM port numbers in Windows Device Manager...\r\n";
const std::string VERSION = "VELK LZHUF-Decoder Version 1.0.6 (18-SEP-2019)\r\n";
const std::string HELLO = "X\r\nLEN: 5\r\n###PAYLOAD2:\r\nhello\r\n###PAYLOAD_END\r\n";
const std::string NO_PORT = "\r\nTrying to open COM port 0...\r\n";

size_t entries_in(const TempDir& dir) {
    const std::filesystem::recursive_directory_iterator entries(dir.path());
    return static_cast<size_t>(std::distance(begin(entries), end(entries)));
}

// What one argument makes of a directory: the console after the banner, the
// status, and the payload file (an old one of that name is overwritten).
// A run creates no other file.
TEST(CommandLine, ArgumentChoosesTheRunAndWhereThePayloadFileGoes) {
    std::string every_byte;  // a text payload of every byte value; the console adds LF before CR
    for (int b = 0x20; b < 0x120; ++b) every_byte += static_cast<char>(b & 0xFF);
    const std::string deep = std::string(120, 'a') + "/" + std::string(120, 'b') + "/";
    const struct {
        std::string arg;
        std::optional<std::string> capture;  // written at arg's path
        std::string directory;               // made before the run
        std::string out;
        int status;
        std::string err;  // standard error: the failure that ended the run
        std::string payload_file, payload;  // no name: none may be made
    } cases[] = {
        {"missing.txt", {}, "", "", STATUS_NO_CAPTURE, "Unable to open file: missing.txt\n", "", ""},
        {"", {}, "", "", STATUS_NO_CAPTURE, "Unable to open file: \n", "", ""},
        {"a_directory", {}, "a_directory", "", STATUS_NO_CAPTURE, "Unable to open file: a_directory\n", "", ""},
        {std::string(4000, 'x'), {}, "", "", STATUS_NO_CAPTURE, "Unable to open file: " + std::string(4000, 'x') + "\n",
         "", ""},
        {"cap.txt", "", "decompressed_cap.txt", "", STATUS_NO_PAYLOAD_FILE, "Unable to open file : decompressed_cap.txt\n",
         "", ""},
        // 242 characters and the prefix make the longest payload-file name, 255.
        {std::string(242, 'd'), "", "", counted(""), 0, "", "decompressed_" + std::string(242, 'd'), ""},
        {std::string(243, 'c'), "", "", "", STATUS_NO_PAYLOAD_FILE,
         "Unable to open file : decompressed_" + std::string(243, 'c') + "\n", "", ""},
        {deep + std::string(14, 'c'), "", deep, "", STATUS_NO_PAYLOAD_FILE,
         "Unable to open file : " + deep + "decompressed_cccccccccccccc\n", "", ""},
        {"logs/cap.txt", HELLO, "logs", counted("hello"), 0, "", "logs/decompressed_cap.txt", "hello"},
        // Standard input, and a capture where nobody may write: the payload
        // file in the current directory.
        {"-", {}, "", counted(""), 0, "", "decompressed_stdin.txt", ""},
        {"/dev/stdin", {}, "", counted(""), 0, "", "decompressed_stdin", ""},
        {"/proc/self/fd/0", {}, "", counted(""), 0, "", "decompressed_0", ""},
        {"./-x", HELLO, "", counted("hello"), 0, "", "decompressed_-x", "hello"},
        {"all.bin", "X\r\nLEN: 256\r\n###PAYLOAD2:\r\n" + every_byte + "\r\n###PAYLOAD_END\r\n", "",
         counted(std::string(every_byte).insert(every_byte.find('\r'), "\n")), 0, "", "decompressed_all.bin", every_byte},
        {"caf\xC3\xA9_\xFF_com.txt", "X\r\nLEN: 2\r\n###PAYLOAD2:\r\n\xE9\xFF\r\n", "", counted("\xE9\xFF"), 0, "",
         "decompressed_caf\xC3\xA9_\xFF_com.txt", "\xE9\xFF"},
        // "COM" in any case starts a live run, even where such a file exists.
        {"commands.txt", HELLO, "", NO_PORT, STATUS_NO_PORT, ILLEGAL, "", ""},
        {"Com.log", HELLO, "", NO_PORT, STATUS_NO_PORT, ILLEGAL, "", ""},
        {"cOM", HELLO, "", NO_PORT, STATUS_NO_PORT, ILLEGAL, "", ""},
        // Read to its 255th character only: the 256th would make it port -5.
        {"COM-" + std::string(251, '0') + "5", {}, "", NO_PORT, STATUS_NO_PORT, ILLEGAL, "", ""},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.arg.substr(0, 40));
        TempDir dir;
        if (!k.directory.empty()) std::filesystem::create_directories(dir / k.directory);
        if (k.capture) write_file(dir / k.arg, *k.capture);
        if (!k.payload_file.empty()) write_file(dir / k.payload_file, "old contents");
        const size_t entries = entries_in(dir);
        expect_result(run_velk(dir, {k.arg}), BANNER + k.out, k.status, k.err);
        EXPECT_EQ(entries_in(dir), entries);
        EXPECT_EQ(k.payload_file.empty() ? "" : read_file(dir / k.payload_file), k.payload);
    }
}

// No argument gets the usage; the version options answer alone.  Arguments
// no run takes are refused before anything is done: an unknown option or
// one more argument than the run takes, with status 2.  A mode other than 3
// or 4 is only warned about.  None of these makes a file.
TEST(CommandLine, NoArgumentVersionAndArgumentsNoRunTakes) {
    TempDir dir;
    const auto refused = [](const std::string& what) { return "velk_lzh: " + what + " (see velk_lzh --help)\n"; };
    const struct {
        std::vector<std::string> args;
        std::string out, err;
        int status;
    } cases[] = {
        {{}, BANNER, USAGE, STATUS_NO_CAPTURE},
        {{"-V"}, VERSION, "", 0},
        {{"--version"}, VERSION, "", 0},
        {{"-x"}, "", refused("unknown option -x"), 2},
        {{"--verbose", "cap.txt"}, "", refused("unknown option --verbose"), 2},
        {{"a.txt", "b.txt"}, "", refused("unexpected argument b.txt"), 2},
        {{"COM3", "4", "x"}, "", refused("unexpected argument x"), 2},
        {{"COM3", "--help"}, "", refused("unexpected argument --help"), 2},
        {{"--version", "now"}, "", refused("unexpected argument now"), 2},
        {{"-m"}, "", refused("missing folder after -m"), 2},
        {{"cap.txt", "--messages", "msgs"}, "", refused("unexpected argument --messages"), 2},
        {{"COM0", "x"}, BANNER + NO_PORT, "velk_lzh: mode x is neither 3 nor 4, mode 3 is used\n" + ILLEGAL,
         STATUS_NO_PORT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "" : c.args.back());
        expect_result(run_velk(dir, c.args), c.out, c.status, c.err);
    }
    // The help names what every run takes, and where COM1 is in this build.
    for (const char* option : {"-h", "--help"}) {
        const ProgramResult r = run_velk(dir, {option});
        EXPECT_TRUE(r.status == 0 && r.err.empty() && r.out.starts_with(BANNER + "USAGE: velk_lzh ")) << option;
        for (const char* named : {"CAPTURE_FILE", "COMn [MODE]", "DEVICE [MODE]", "--list", "--version", "-m DIR",
                                  "--messages DIR", "COM1 is /dev/ttyS0"})
            EXPECT_NE(r.out.find(named), std::string::npos) << option << ": " << named;
    }
    EXPECT_EQ(entries_in(dir), 0u);
}

// Answers that could not be written are no answers; a closed standard
// stream is never taken over by a file the run opens, so the payload file
// never starts with the console's text.
TEST(CommandLine, FailedAnswersAreNotSuccessAndClosedStandardStreamsStayClosed) {
    TempDir dir;
    const auto shell = [&](const std::string& script, const std::string& argument) {  // velk_lzh as "$0"
        return run_program("/bin/sh", {"-c", script, VELK_LZH_PATH, argument}, dir.path());
    };
    for (const char* option : {"-V", "--version", "-h", "--help"})
        EXPECT_EQ(shell("exec \"$0\" \"$1\" >/dev/full", option).status, 1) << option;
    write_file(dir / "cap.txt", HELLO);
    for (const std::string closing : {">&-", "<&- >&- 2>&-"}) {
        EXPECT_EQ(shell("exec \"$0\" \"$1\" " + closing, "cap.txt").status, 0) << closing;
        EXPECT_EQ(read_file(dir / "decompressed_cap.txt"), "hello") << closing;
    }
}

}  // namespace
