// MessageFramer: follows a compressed-message transfer in the payload bytes
// and hands the data bytes of its blocks to the LZHUF decoder.
//
// Interface:
//   feed_byte(framer, ring, decoder, parser, payload_file, b)
//       one payload byte; the ring's read index is already past it
//   feed_block_bytes(framer, decoder, parser, payload_file, bytes, n)
//       in BlockData, a run of block bytes at once (for the drain)
//   restart(framer)   back to SeekHeader, nothing else
//   framer.state      readable: anything but SeekHeader means a message is
//                     being followed
//
// A transfer is a line "FC EM <id> <length> ..." and later the message:
// 0x00 0x30 0x00, then blocks of STX, a length byte (0 means 256) and that
// many data bytes, closed by EOT.  Patterns are matched by looking back into
// the ring from its read index, so no copy of the stream is kept here.
//
//              "FC EM" 25 back            00 30 00
//   SeekHeader --------------> SeekStart ----------> SkipTypeByte <-----+
//      ^   ^                                            | any byte      |
//      |   |  EOT (tail recovered) / other type         v               |
//      |   +------------------------------------- BlockHeader           |
//      |                                                | STX           | block
//      |   count reached (parser and decoder restarted) v               | used up
//      +------------------------------------------- BlockData ----------+
//
// restart() leads to SeekHeader from any state.
#pragma once

#include <cstdint>
#include <cstdio>

#include "lzhuf/lzhuf_decoder.h"
#include "monitor/monitor_parser.h"
#include "monitor/payload_ring.h"

inline constexpr int32_t HEADER_LOOK_BACK = 25;  // bytes of the "FC EM" line examined
inline constexpr uint16_t FULL_BLOCK = 256;      // what a length byte of 0 announces

enum FramerState : uint32_t {
    SeekHeader = 0,    // waiting for "FC EM" at the start of the last 25 bytes
    SeekStart = 1,     // waiting for 0x00 0x30 0x00 before the first block
    SkipTypeByte = 2,  // the block type byte passes; it is read back next
    BlockHeader = 3,   // type (2 back) and length (1 back) of the next block
    BlockData = 4,     // data bytes of the block go to the decoder
};

struct MessageFramer {
    FramerState state;
    int32_t uncompressed_len;  // from the last header that gave one; kept across messages
    uint16_t block_left;       // data bytes of the current block still to come, 0..256
};

void feed_byte(MessageFramer& framer, const PayloadRing& ring, LzhufDecoder& decoder,
               MonitorParser& parser, std::FILE* payload_file, uint8_t b);
// In BlockData: up to `count` consecutive payload bytes of the current
// block at once, exactly as feed_byte would take them one by one (BlockData
// never looks back into the ring).  Returns how many it took: 0 in any other
// state, and never past the block's end or the byte that completes the
// message.
int32_t feed_block_bytes(MessageFramer& framer, LzhufDecoder& decoder, MonitorParser& parser,
                         std::FILE* payload_file, const uint8_t* bytes, int32_t count);
void restart(MessageFramer& framer);
