// drain_payload_ring: hands every unread PayloadRing byte to the framer.
//
// The read index is advanced before each byte is handed on, because the
// framer finds the byte it is given at 1 back from the read index.  Returns
// how many bytes were handed over, so the live run's silence watchdog can tell
// that a payload byte reached the framer.
#pragma once

#include <cstdint>
#include <cstdio>

#include "lzhuf/lzhuf_decoder.h"
#include "monitor/message_framer.h"
#include "monitor/monitor_parser.h"
#include "monitor/payload_ring.h"

int32_t drain_payload_ring(PayloadRing& ring, MessageFramer& framer, LzhufDecoder& decoder,
                           const MonitorOutput& out);

// The live run's way in: each input character goes to the parser, and the
// payload bytes it yields are drained before the next one is parsed, so a
// text report that follows a message's last block in the same read is
// written after that message's decoded text, in the order of arrival.
// Returns how many payload bytes reached the framer.
int32_t feed_in_arrival_order(MonitorParser& parser, PayloadRing& ring, MessageFramer& framer,
                              LzhufDecoder& decoder, const MonitorOutput& out, const uint8_t* chars,
                              int32_t count);
