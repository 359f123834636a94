// The capture-file run: decode the messages in a recorded monitor capture
// into "decompressed_" + the capture's file name.
#pragma once

// Returns 0 after a complete run; ends the process with -1 (capture cannot be
// opened), -3 (payload file cannot be opened or written), -6 (temporary
// file), -7 (read error) or -8 (a message file, with `messages_dir`).
int capture_file_run(const char* argument, const char* messages_dir);
