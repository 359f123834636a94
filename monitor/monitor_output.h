// Where the monitor machines' output goes.  The run fills this in and the
// machines only hand their text over: which of it reaches the console, the
// payload file or a message's own file, and how a console shows it, is the
// run's business.  Plain function pointers and one context, as C callbacks:
// a test, a fuzz target or a second pass passes its own.
#pragma once

#include <cstdint>

#include "lzhuf/lzhuf_decoder.h"
#include "lzhuf/text_sink.h"

// How a transfer ended: the first four by what came over the air, the rest
// because nothing more came.
enum TransferEnd : uint32_t {
    LengthReached,   // the decoded count reached the stream's own length
    EotFound,        // EOT where the next block's STX was expected
    BadBlockType,    // neither STX nor EOT there
    NextHeader,      // an "FC EM" line cut it short
    SilenceTimeout,  // the live run heard no payload byte for about a minute
    PortLost,        // the serial port went away
    EndOfCapture,    // the capture file has no more bytes
    RunStopped,      // the live run was ended (a key, a signal)
};

// The names the index gives them, in the same order.
inline constexpr const char* TRANSFER_END_NAMES[] = {"length",  "eot",       "bad-type",       "next-header",
                                                     "timeout", "port-lost", "end-of-capture", "run-stopped"};

struct TransferSummary {
    TransferEnd how;
    StreamCheck check;         // as its check line shows it
    int64_t announced_length;  // the length its header line showed; 0 when none
};

struct MonitorOutput {
    void* context;
    // Characters of a text report, as they came over the air.
    void (*report_text)(void* context, const uint8_t* text, uint32_t length);
    // Decoded characters of the message being received.
    void (*message_text)(void* context, const uint8_t* text, uint32_t length);
    // One of the machines' own lines; a `logged` one belongs in the payload
    // file too, where it marks the messages apart from the text around them.
    void (*line)(void* context, const char* text, bool logged);
    // A message's opening line ("HEADER FOUND" or "NO <FC EM> HEADER") has
    // just been given to `line`.
    void (*message_opened)(void* context);
    // A transfer's start bytes came: message_text now gets its text.
    void (*transfer_began)(void* context);
    // Its check line has just been given to `line`.
    void (*transfer_ended)(void* context, const TransferSummary& summary);
};

// The decoder's sink for the message text.
inline TextSink message_sink(const MonitorOutput& out) { return TextSink{out.message_text, out.context}; }

// Nothing goes anywhere: for a pass that only collects payload bytes again.
MonitorOutput silent_output();
