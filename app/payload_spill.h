// Keeping every payload byte of a capture, however many there are.
//
// The capture-file run parses the whole capture before the framer sees a
// byte, so all text payloads come before all decoded messages.  The payload
// ring holds 100000 bytes; a longer capture would overwrite bytes that were
// never drained.  Before that can happen the unread bytes move to a temporary
// spill file, and the framer is later fed the whole payload stream again
// through a zeroed ring in chunks it can never overrun, which is exactly
// what an unbounded ring would have given it.
//
// Interface:
//   spill_if_needed(ring, room)  spill when fewer than `room` free places remain
//   spill_active()               whether anything has been spilled
//   replay_spilled(...)          spill the rest, then feed everything through
//                                the ring to the framer
#pragma once

#include <cstdint>
#include <cstdio>

#include "lzhuf/lzhuf_decoder.h"
#include "monitor/message_framer.h"
#include "monitor/monitor_parser.h"
#include "monitor/payload_ring.h"

void spill_if_needed(PayloadRing& ring, int32_t room);
bool spill_active();
void replay_spilled(PayloadRing& ring, MessageFramer& framer, LzhufDecoder& decoder,
                    std::FILE* payload_file);
