// Static storage for the stdio buffers of the program's streams.
//
// Left alone, the C library allocates each stream's buffer on first use.
// Giving every stream a buffer of its own from static storage keeps the runs
// free of heap allocations (only opening a stream allocates, inside the C
// library) and lets large buffers cut the number of write calls.
#pragma once

#include <cstdio>

enum StreamRole { ConsoleStream, CaptureStream, PayloadStream, OriginalDataStream, SpillStream, STREAM_ROLES };

// Gives `stream` the static buffer of its role.  Must be called right after
// the stream is opened, before any input or output on it.  A console that is
// a terminal is left as the platform sets it up.
void use_static_buffer(std::FILE* stream, StreamRole role);
