// Captures what the code under test prints on standard output.
//
// The decoder and the monitor machines print on stdout as well as writing
// their stream; tests both check that text and keep it out of the test log.
// The capture swaps file descriptor 1 for a temporary file, so it also sees
// output written through unlocked stdio calls.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <string>

// A stream in a temporary file, read back as a string.
class TempStream {
public:
    TempStream() : file_(std::tmpfile()) {}
    ~TempStream() { std::fclose(file_); }
    TempStream(const TempStream&) = delete;
    TempStream& operator=(const TempStream&) = delete;

    std::FILE* get() const { return file_; }
    std::string contents() const {
        std::fflush(file_);
        std::rewind(file_);
        std::string text;
        char buffer[65536];
        for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, file_)) > 0;) text.append(buffer, got);
        return text;
    }

private:
    std::FILE* file_;
};

class StdoutCapture {
public:
    StdoutCapture() : saved_fd_((std::fflush(stdout), dup(fileno(stdout)))) { dup2(fileno(file_.get()), fileno(stdout)); }
    ~StdoutCapture() { stop(); }
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    // Restores stdout and returns everything printed since construction.
    std::string stop() {
        if (saved_fd_ >= 0) {
            std::fflush(stdout);
            dup2(saved_fd_, fileno(stdout));
            close(saved_fd_);
            saved_fd_ = -1;
        }
        return file_.contents();
    }

private:
    TempStream file_;
    int saved_fd_;
};
