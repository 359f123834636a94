// Output files whose every write counts.
//
// The C library reports a failed write only through the stream's error
// indicator or the result of a later flush or close; nothing else tells a
// full disk from a good one.  These helpers look at all three, so a run can
// say that its file is incomplete instead of announcing work that was never
// stored.
#pragma once

#include <cstdio>

// Flushes `stream`; false when this flush or any earlier write on it failed.
// errno then holds the reason where the C library gives one.
bool flush_checked(std::FILE* stream);

// Closes `stream` and sets it to null; false when the close or any earlier
// write on it failed.  A null stream is fine.
bool close_checked(std::FILE*& stream);

// "\r\nUnable to write file : NAME (REASON)\r\n", the reason from errno as the
// failed write, flush or close left it: on standard error when the failure
// ends the run, on the console when the run goes on.
void print_write_failure(const char* name, bool ends_run);

// A capture (or the spill that holds its payload) that fails while it is
// read must not end the run as its end would, with part of the messages and
// status 0: "\r\nUnable to read file : NAME (REASON)\r\n", then the process
// ends with READ_FAILED_STATUS.  What was written stays.
inline constexpr int READ_FAILED_STATUS = -7;
[[noreturn]] void read_failed(const char* name);

// A file the live run keeps writing to after a failure, so that it reports
// the failure once, with the reason, and its end can carry `status`.
struct WatchedFile {
    std::FILE* stream;
    const char* name;
    int status;   // the exit status that says this file is incomplete
    bool failed;  // a write, flush or close has failed
};

// Flushes the file; on its first failure prints
// "\r\nUnable to write file : NAME (REASON)\r\n" on the console.
void flush_watched(WatchedFile& file);

// Closes the file, with the same report as flush_watched on failure.
void close_watched(WatchedFile& file);
