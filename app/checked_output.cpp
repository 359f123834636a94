#include "app/checked_output.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/failure_output.h"

bool flush_checked(std::FILE* stream) {
    errno = 0;
    const bool flushed = std::fflush(stream) == 0;
    return flushed && !std::ferror(stream);
}

bool close_checked(std::FILE*& stream) {
    if (!stream) return true;
    const bool written = !std::ferror(stream);
    errno = 0;
    const bool closed = std::fclose(stream) == 0;
    stream = nullptr;
    return written && closed;
}

namespace {

void report(WatchedFile& file) {
    if (file.failed) return;
    file.failed = true;
    print_write_failure(file.name, false);
}

}  // namespace

void print_write_failure(const char* name, bool ends_run) {
    // An error seen only through the indicator may leave no errno behind.
    const char* reason = errno != 0 ? std::strerror(errno) : "write error";
    if (ends_run) {
        print_failure("\r\nUnable to write file : %s (%s)\r\n", name, reason);
    } else {
        std::printf("\r\nUnable to write file : %s (%s)\r\n", name, reason);
        std::fflush(stdout);
    }
}

void read_failed(const char* name) {
    const char* reason = errno != 0 ? std::strerror(errno) : "read error";
    print_failure("\r\nUnable to read file : %s (%s)\r\n", name, reason);
    std::exit(READ_FAILED_STATUS);
}

void flush_watched(WatchedFile& file) {
    if (file.stream && !flush_checked(file.stream)) report(file);
}

void close_watched(WatchedFile& file) {
    if (!close_checked(file.stream)) report(file);
}
