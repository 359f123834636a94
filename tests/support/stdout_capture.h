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

class StdoutCapture {
public:
    StdoutCapture() {
        std::fflush(stdout);
        file_ = std::tmpfile();
        saved_fd_ = dup(fileno(stdout));
        dup2(fileno(file_), fileno(stdout));
    }
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
            text_ = read_all(file_);
            std::fclose(file_);
            file_ = nullptr;
        }
        return text_;
    }

    static std::string read_all(std::FILE* f) {
        std::fflush(f);
        std::rewind(f);
        std::string text;
        char buffer[65536];
        size_t got = 0;
        while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, got);
        return text;
    }

private:
    std::FILE* file_ = nullptr;
    int saved_fd_ = -1;
    std::string text_;
};

// A payload stream in a temporary file, read back as a string.
class TempStream {
public:
    TempStream() : file_(std::tmpfile()) {}
    ~TempStream() { std::fclose(file_); }
    TempStream(const TempStream&) = delete;
    TempStream& operator=(const TempStream&) = delete;

    std::FILE* get() const { return file_; }
    std::string contents() const { return StdoutCapture::read_all(file_); }

private:
    std::FILE* file_;
};
