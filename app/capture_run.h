// The capture-file run: decode the messages in a recorded monitor capture
// into "decompressed_" + the capture's file name.
#pragma once

// Returns 0 after a complete run; ends the process with -1 (capture cannot be
// opened) or -3 (payload file cannot be opened).
int capture_file_run(const char* argument);
