// The live run on a serial port COM1..COM32.
#pragma once

// Entered with the upper-cased argument copy ("COM..."); never returns.
[[noreturn]] void live_run(const char* argument_copy, int argc, char** argv);
