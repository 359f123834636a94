// MessageFramer: follows compressed-message transfers in the payload bytes
// and hands the data bytes of their blocks to the LZHUF decoder.
//
// Interface:
//   feed_byte(framer, ring, decoder, out, b)
//       one payload byte; the ring's read index is already past it
//   feed_block_bytes(framer, ring, decoder, out, bytes, n)
//       in BlockData, a run of block bytes at once (for the drain)
//   restart(framer)   back to SeekHeader, remembered headers forgotten
//   transfer_under_way(framer)
//                     a transfer's start bytes have come and it has not
//                     ended (SkipTypeByte, BlockHeader, BlockData)
//   abandon_transfer(framer, decoder, out, why)
//                     the transfer under way will get no more bytes: what
//                     arrived is recovered, the closing line and the check
//                     line follow; nothing when no transfer is under way
//
// A transfer is a line "FC EM <id> <length> ..." and later the message:
// 0x00 0x30 0x00, then blocks of STX, a length byte (0 means 256) and that
// many data bytes, closed by EOT.  Patterns are matched by looking back into
// the ring from its read index, so no copy of the stream is kept here.
//
// The stream carries its own length and CRC, so the "FC EM" line is a label
// and not a gate: the start bytes begin a transfer in SeekHeader too ("NO
// <FC EM> HEADER").  Senders announce several messages in a row and then send
// the transfers; headers that arrive while a message is awaited are
// remembered in order (up to 16) and taken one by one as messages end.  A
// header that arrives during a transfer means that transfer was cut short:
// it is abandoned and the new header starts afresh, unless its F stood
// before the transfer's start bytes: then it is the transfer's own header,
// seen late (a line shorter than the look-back), and is ignored.  Every
// transfer that began ends with one check line that says whether the stream
// came through whole (its CRC and its own length).
//
//              "FC EM" 25 back            00 30 00
//   SeekHeader --------------> SeekStart ----------> SkipTypeByte <-----+
//    | ^  ^  ^    remembered      ^ |                   ^ | any byte    |
//    | |  |  |    header taken    | | "FC EM":          | v             |
//    | |  |  +--------------------+ | remember it       | BlockHeader   |
//    | |  |   (message ended)       +--                 |   | STX       | block
//    | |  |  EOT / other type: finish, check            |   v           | used up
//    | |  +-------------------------------------------- | BlockData ----+
//    | |      count reached the stream's length         |
//    | +---- "FC EM" during a transfer: cut, check,     |
//    |       header taken                               |
//    +----------------- 00 30 00: no header ------------+
//
// A byte that completes both an "FC EM" line and the start bytes is taken
// as both: the header first, then the start.  restart() leads to SeekHeader
// from any state.
#pragma once

#include <cstdint>

#include "lzhuf/lzhuf_decoder.h"
#include "monitor/monitor_output.h"
#include "monitor/payload_ring.h"

inline constexpr int32_t HEADER_LOOK_BACK = 25;       // bytes of the "FC EM" line examined
inline constexpr uint16_t FULL_BLOCK = 256;           // what a length byte of 0 announces
inline constexpr int32_t MAX_REMEMBERED_HEADERS = 16;  // announced, not yet sent

enum FramerState : uint32_t {
    SeekHeader = 0,    // waiting for "FC EM" at the start of the last 25 bytes
    SeekStart = 1,     // waiting for 0x00 0x30 0x00 before the first block
    SkipTypeByte = 2,  // the block type byte passes; it is read back next
    BlockHeader = 3,   // type (2 back) and length (1 back) of the next block
    BlockData = 4,     // data bytes of the block go to the decoder
};

// An "FC EM" line that announced a message whose transfer has not begun.
struct RememberedHeader {
    bool has_length;  // a blank stood in reach, so a length was read
    int64_t length;
};

struct MessageFramer {
    FramerState state;
    int64_t uncompressed_len;  // from the last header that gave one; kept across messages
    uint16_t block_left;       // data bytes of the current block still to come, 1..256
    RememberedHeader remembered[MAX_REMEMBERED_HEADERS];  // oldest first
    int32_t remembered_count;
    // Bytes handed over since the last of the start bytes, counted up to
    // HEADER_LOOK_BACK: an "FC EM" line completed sooner than that had its
    // F before the start, so it belongs to this transfer.
    int32_t since_start;
    // The length the current message's header line showed, 0 when none.
    int64_t shown_length;
};


void feed_byte(MessageFramer& framer, const PayloadRing& ring, LzhufDecoder& decoder, const MonitorOutput& out,
               uint8_t b);
// In BlockData: up to `count` consecutive payload bytes of the current
// block, which stand in the ring from its read index on, exactly as
// feed_byte would take them one by one.  Returns how many it took: 0 in any
// other state or when the first byte completes an "FC EM" line, and never
// past the block's end, the byte that completes the message or the byte
// before one that completes an "FC EM" line.
int32_t feed_block_bytes(MessageFramer& framer, const PayloadRing& ring, LzhufDecoder& decoder,
                         const MonitorOutput& out, const uint8_t* bytes, int32_t count);
void restart(MessageFramer& framer);
bool transfer_under_way(const MessageFramer& framer);
// `why` is one of the ends for want of bytes (SilenceTimeout and after),
// each with its closing line.  After a timeout or a lost port the next
// remembered header is taken, as after any message; at the end of a capture
// or a run nothing follows.
void abandon_transfer(MessageFramer& framer, LzhufDecoder& decoder, const MonitorOutput& out, TransferEnd why);
