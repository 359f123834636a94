// Running the built velk_lzh in a fresh directory.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/run_program.h"

#ifndef VELK_LZH_PATH
#error "VELK_LZH_PATH must name the velk_lzh executable"
#endif

inline const std::string BANNER =
    "\r\nVELK LZHUF-Decoder Version 1.0.6 (18-SEP-2019)\n==============================================\n\n";

inline constexpr int STATUS_NO_CAPTURE = 255;       // -1
inline constexpr int STATUS_NO_PAYLOAD_FILE = 253;  // -3
inline constexpr int STATUS_NO_ORIGINAL_FILE = 252; // -4
inline constexpr int STATUS_NO_PORT = 251;          // -5
inline constexpr int STATUS_NO_SPILL = 250;         // -6
inline constexpr int STATUS_READ_FAILED = 249;      // -7
inline constexpr int STATUS_NO_MESSAGE_FILE = 248;  // -8

// What a COM port number out of range gets on standard error.
inline const std::string ILLEGAL = "illegal comport number\nCan not open comport\n";

// What a capture run shows after `shown`: its count of messages, on a line
// of its own.
inline std::string counted(const std::string& shown, size_t messages = 0, size_t ok = 0) {
    return shown + (shown.empty() || shown.ends_with('\n') ? "" : "\r\n") + "### " + std::to_string(messages) +
           " MESSAGES: " + std::to_string(ok) + " OK, " + std::to_string(messages - ok) + " DAMAGED\r\n";
}

// Every "###" line on the console starts a line of its own (after LF, or
// after a CR that follows one): a bare CR before it would let it overwrite
// the line it interrupts.  Only a line's first "###" counts.
inline void expect_fresh_lines(const std::string& shown) {
    for (size_t at = shown.find("###"); at != std::string::npos; at = shown.find("###", shown.find('\n', at))) {
        const size_t line = at - (at > 0 && shown[at - 1] == '\r');
        EXPECT_TRUE(line > 0 && shown[line - 1] == '\n') << shown.substr(line - std::min<size_t>(line, 40), 80);
    }
}

inline ProgramResult run_velk(const TempDir& dir, const std::vector<std::string>& args) {
    return run_program(VELK_LZH_PATH, args, dir.path());
}

// The console byte for byte, the exit status, and standard error: the lines
// of a failure that ended the run, nothing otherwise.
inline void expect_result(const ProgramResult& r, const std::string& out, int status, const std::string& err = "") {
    EXPECT_EQ(r.out, out);
    EXPECT_EQ(r.err, err);
    EXPECT_EQ(r.status, status);
}

// A capture-file run of `capture` (written as cap.txt in a fresh directory)
// that must end with status 0 and nothing on standard error: what the
// program showed, and the payload file it wrote.  With `message_runs` > 0 it
// runs that often with --messages msgs, and `files` holds what msgs/ then
// has, by name; between runs each message file gets KEPT appended, as a
// reader's note would be, which a later run must leave.
inline const std::string KEPT = "\r\n(read)";
struct CaptureRun {
    ProgramResult result;
    std::string payload;
    std::map<std::string, std::string> files;
};

inline CaptureRun run_capture(const std::string& capture, int message_runs = 0) {
    TempDir dir;
    write_file(dir / "cap.txt", capture);
    CaptureRun run;
    for (int k = 0; k < std::max(message_runs, 1); ++k) {
        for (const auto& [name, text] : run.files)
            if (name != "index.tsv") write_file(dir / "msgs/" + name, text + KEPT);
        run.result = run_velk(dir, message_runs > 0 ? std::vector<std::string>{"-m", "msgs", "cap.txt"}
                                                    : std::vector<std::string>{"cap.txt"});
        EXPECT_EQ(run.result.err, "");
        EXPECT_EQ(run.result.status, 0);
        if (message_runs == 0) continue;
        run.files.clear();
        for (const auto& entry : std::filesystem::directory_iterator(dir / "msgs"))
            run.files[entry.path().filename()] = read_file(entry.path());
    }
    run.payload = read_file(dir / "decompressed_cap.txt");
    return run;
}
