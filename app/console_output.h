// The console: what the air sends is shown so that it can neither garble the
// screen nor command the terminal, and the program's own "###" lines always
// start on a line of their own.
//
// When standard output is a terminal, every byte from the air (decoded text,
// text reports, the modem's replies) that is a control character other than
// TAB, LF and CR, or the 8-bit CSI 0x9B, is shown in caret notation as
// `cat -v` shows it (^[ for ESC, ^@ for NUL, ^? for DEL, M-^[ for 0x9B).  The
// modem ends its lines with a bare CR, which on a terminal would make each
// line overwrite the one before: a CR is shown as CR LF there, and an LF
// right after it is then already shown.  Other bytes pass, so UTF-8 text
// shows as text.  Files, pipes and redirections get the exact bytes, except
// that a text report's CR gets an LF before it, as it always has.
//
//   console_start(c)              once, before anything is written: is the
//                                 console a terminal
//   console_air(c, text, n, kind) bytes from the air
//   console_line(c, text)         one of the program's own lines; one that
//                                 does not begin with CR LF gets CR LF first
//                                 unless the console stands at a line start
#pragma once

#include <cstdint>

enum AirText { MessageText, ReportText };

struct Console {
    bool terminal = false;  // standard output is a terminal
    uint8_t last = 0x0A;    // the last byte written: a run starts at a line start
    bool cr_shown = false;  // terminal: the last air byte was a CR, shown as CR LF
};

void console_start(Console& c);
void console_air(Console& c, const uint8_t* text, uint32_t length, AirText kind);
void console_line(Console& c, const char* text);
