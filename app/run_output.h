// The program's own output for the monitor machines: the console, the
// payload file, which gets the text and the logged lines exactly as they
// came, and with --messages a file of its own for every message.
//
//   run_output(r)          the MonitorOutput that writes there
//   run_line(r, text, logged)
//                          one of the runs' own "###" lines, on the console
//                          and (logged) in the payload file
//   print_message_count(r) "### N MESSAGES: A OK, B DAMAGED" on the console
//
// In a live run (`live`) each message's opening line is followed by
// "### HEARD AT <UTC time>", and the message files are named by the time.
// Nothing here flushes the console or the payload file: the runs flush once
// after each batch they feed.
#pragma once

#include <cstdint>
#include <cstdio>

#include "app/console_output.h"
#include "app/message_files.h"
#include "monitor/monitor_output.h"

struct RunOutput {
    std::FILE* payload_file = nullptr;
    Console console{};
    bool live = false;
    MessageFiles files{};
    uint32_t messages = 0;  // transfers that ended with a check line
    uint32_t intact = 0;
};

MonitorOutput run_output(RunOutput& r);
void run_line(RunOutput& r, const char* text, bool logged);
void print_message_count(RunOutput& r);
