// The program's own output for the monitor machines: the console, and the
// payload file, which gets the text and the logged lines exactly as they came.
//
//   run_output(r)   the MonitorOutput that writes to standard output and to
//                   r.payload_file (set once the run has opened it)
//
// The console gets a line feed before every CR of a text report so report
// lines do not overwrite each other; the payload file gets the bytes as sent.
// Nothing here flushes: the runs flush once after each batch they feed,
// which shows the text within the same read and saves a system call per
// character.
#pragma once

#include <cstdio>

#include "monitor/monitor_output.h"

struct RunOutput {
    std::FILE* payload_file;
};

MonitorOutput run_output(RunOutput& r);
