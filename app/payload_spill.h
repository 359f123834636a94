// Keeping every payload byte of a capture that yields more of them than the
// payload ring holds, for a capture that cannot be read a second time.
//
// The capture-file run parses the whole capture before the framer sees a
// byte, so all text payloads come before all decoded messages.  The ring
// holds 100000 bytes; a longer stream would overwrite bytes that were never
// drained.  A regular file is simply parsed again for the decoding pass.  A
// pipe, a FIFO or a device cannot be, so before the ring overflows its unread
// bytes move to a spill file in the temporary directory (TMPDIR, else /tmp;
// on Windows the directory GetTempPath names).  The file has no name from the
// start (POSIX) or is deleted when closed (Windows), so no run leaves one
// behind.  Later the framer gets the whole stream again, in pieces far
// smaller than the ring, through a zeroed ring.
//
// A spill that cannot be created or written ends the run with
// "Unable to write temporary file in DIR (REASON)\n" and SPILL_FAILED_STATUS:
// decoding from a ring that wrapped would give garbage.  One that cannot be
// read back is a read error of the capture's payload (read_failed, -7).
#pragma once

#include <cstdint>

#include "monitor/payload_ring.h"

inline constexpr int SPILL_FAILED_STATUS = -6;

// Moves the ring's unread bytes to the spill file, creating it on first use.
void spill_unread(PayloadRing& ring);
bool spill_active();

// Once the capture is parsed: spills what is left, then empties the ring and
// puts it back at its start for the replay.
void start_replay(PayloadRing& ring);
// Appends the next piece of the spilled stream to the ring; returns how many
// bytes, 0 at the end.  Closing the spill file at the end removes it.
int32_t replay_piece(PayloadRing& ring);
