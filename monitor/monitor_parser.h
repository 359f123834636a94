// MonitorParser: turns the modem's monitor text into payload bytes, one input
// character per call, whatever the input's split into reads.
//
// Interface:
//   feed_char(parser, ring, out, c)            one input character
//   feed_chars(parser, ring, out, chars, count)
//                                              the same for each of `count`
//                                              characters, in order; faster
//                                              on a whole read
//   restart(parser)                            back to Reset, nothing else
//
// The monitor prints each report as header text carrying "LEN: n" and
// "TYPE: t", then "###PAYLOAD2:", a line end and the payload, then
// "###PAYLOAD_END".  Type 8 and above (a negative type counts as above) are
// hexadecimal pairs with one separator between bytes, announced by a
// "<Bin data>" line; types 0..7 are text, handed to the output's report_text
// as they arrive.  Every payload byte goes to the PayloadRing.  A parser that
// `drops_payload` hands its text over as usual but keeps no payload bytes:
// they will be collected again by a second parser with a silent output.
//
// Keywords are found in a short window over the most recent characters, so
// no line buffer is kept and a keyword may stand anywhere in a line.
//
//            any char                "###PAYLOAD2:"
//   Reset ------------> ScanHeader ---------------> SkipLineEnd
//     ^                                                  | not CR/LF
//     |      count used up, "###PAYLOAD_END",            v
//     +----- or #/CR/LF past the announced text ----- InPayload
//
// restart() leads to Reset from any state.
#pragma once

#include <cstdint>

#include "monitor/monitor_output.h"
#include "monitor/payload_ring.h"

inline constexpr int32_t RECENT_CHARS_SIZE = 256;
inline constexpr int32_t MATCH_WINDOW_SIZE = 16;
inline constexpr int32_t HEADER_WINDOW = 12;   // "###PAYLOAD2:", "LEN: " + 7, "TYPE: " + 6
inline constexpr int32_t PAYLOAD_WINDOW = 15;  // "###PAYLOAD_END" and the character after it
inline constexpr uint32_t FIRST_HEX_TYPE = 8;  // types below are text

enum ParserState : uint32_t {
    Reset = 0,        // clear the header fields; the character is not examined
    ScanHeader = 1,   // watch the last 12 characters for LEN:, TYPE:, ###PAYLOAD2:
    SkipLineEnd = 2,  // drop CR and LF after the start marker
    InPayload = 3,    // payload characters until the count or the end marker
};

struct MonitorParser {
    ParserState state;
    uint8_t recent_chars[RECENT_CHARS_SIZE];  // the last 256 input characters
    uint8_t recent_pos;                       // where the next one goes (wraps at 256)
    // The keyword window and the hexadecimal pair, NUL-terminated.  It is
    // filled only when its first character can begin a keyword: the rest of
    // the time no comparison could succeed, and copying it for every character
    // would cost more than the rest of the parsing.
    char match_window[MATCH_WINDOW_SIZE];
    uint32_t payload_type;  // after "TYPE: "; negative numbers as their bit pattern
    int32_t chars_left;     // "LEN: " value, then payload characters still expected
    int32_t hex_phase;      // place of the character in its hex triple, 0..2
    bool drops_payload;     // text only: no payload bytes to the ring
};

void feed_char(MonitorParser& parser, PayloadRing& ring, const MonitorOutput& out, uint8_t c);
void feed_chars(MonitorParser& parser, PayloadRing& ring, const MonitorOutput& out, const uint8_t* chars,
                int32_t count);
void restart(MonitorParser& parser);
