// One file per message, and an index of them, for --messages DIR.
//
// Every transfer that began gets a file of its own in DIR holding exactly the
// characters decoded for it, written while it arrives under a name that says
// so ("...-RECEIVING.txt"), and renamed when its check line is printed to a
// name that sorts in the order heard and says the verdict:
//   live run      YYYYMMDD-HHMMSSZ-NNNN-OK.txt   (UTC time the transfer began)
//   capture run   CAPTURE-NNNN-OK.txt            (the capture's file name)
// DAMAGED in place of OK where the check says so; NNNN counts the run's
// messages from 1.  A name that exists already gets -2, -3, ... before
// ".txt": nothing is ever overwritten.  DIR/index.tsv gets one line a
// message, and a header line when it is created.
//
// A file, the index or DIR that cannot be made or written is reported once,
// "\r\nUnable to write file : NAME (REASON)\r\n", and `failed` stays set.  In
// a capture run the report goes to standard error and ends the process with
// MESSAGE_FILES_FAILED_STATUS; a live run goes on and ends with that status.
//
//   message_files_open(m, dir, source, live)
//                                          DIR made if missing (one level)
//   message_files_began(m, now)            a transfer's start bytes came
//   message_files_text(m, text, length)    its decoded characters
//   message_files_ended(m, summary, now)   its check line was printed
//   message_files_close(m)                 the end of the run
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>

#include "monitor/monitor_output.h"

inline constexpr int MESSAGE_FILES_FAILED_STATUS = -8;
inline constexpr size_t MESSAGE_DIR_SIZE = 2048;   // a longer DIR is refused
inline constexpr size_t MESSAGE_NAME_SIZE = 320;   // room for the source's name, the count and the verdict
inline constexpr size_t MESSAGE_PATH_SIZE = 4096;  // DIR, a name and a suffix

struct MessageFiles {
    bool enabled;
    bool live;               // names and index times from the clock; a failure does not end the run
    bool failed;             // reported once already
    char dir[MESSAGE_DIR_SIZE];
    char source[256];        // the capture file's name without its folder, or the port
    std::FILE* current;      // the message being received, if its file opened
    char current_path[MESSAGE_PATH_SIZE];
    char name_start[MESSAGE_NAME_SIZE - 20];  // the current message's name before "-OK.txt"
    std::time_t began;
    uint32_t count;          // messages of this run so far
    std::FILE* index;
};

void message_files_open(MessageFiles& m, const char* dir, const char* source, bool live);
void message_files_began(MessageFiles& m, std::time_t now);
void message_files_text(MessageFiles& m, const uint8_t* text, uint32_t length);
void message_files_ended(MessageFiles& m, const TransferSummary& summary, std::time_t now);
void message_files_close(MessageFiles& m);
