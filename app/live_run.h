// The live run on a serial port COM1..COM256, or on a device given by its path.
#pragma once

// Entered with the upper-cased argument copy ("COM...") or a device path as
// it was given; never returns.
// With `messages_dir`, every message also goes to a file of its own there.
[[noreturn]] void live_run(const char* argument_copy, int argc, char** argv, const char* messages_dir);
