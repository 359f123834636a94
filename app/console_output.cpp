#include "app/console_output.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

#if defined(_WIN32)
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

#include "platform/char_output.h"

namespace {

constexpr uint8_t CR = 0x0D;
constexpr uint8_t LF = 0x0A;
constexpr uint8_t TAB = 0x09;
constexpr uint8_t DEL = 0x7F;
constexpr uint8_t CSI = 0x9B;

void put(Console& c, uint8_t byte) {
    put_char(byte, stdout);
    c.last = byte;
}

// One air byte on a terminal.
void show_safely(Console& c, uint8_t byte) {
    const bool after_cr = c.cr_shown;
    c.cr_shown = false;
    if (byte == LF && after_cr) return;  // CR LF: one line end, shown already
    if (byte == CR) {
        put(c, CR);
        put(c, LF);
        c.cr_shown = true;
    } else if (byte == CSI) {
        for (const char k : {'M', '-', '^', '['}) put(c, static_cast<uint8_t>(k));
    } else if ((byte < 0x20 && byte != TAB && byte != LF) || byte == DEL) {
        put(c, '^');
        put(c, static_cast<uint8_t>(byte ^ 0x40));
    } else {
        put(c, byte);
    }
}

}  // namespace

void console_start(Console& c) { c.terminal = isatty(fileno(stdout)) != 0; }

void console_air(Console& c, const uint8_t* text, uint32_t length, AirText kind) {
    if (length == 0) return;
    if (c.terminal) {
        for (uint32_t k = 0; k < length; ++k) show_safely(c, text[k]);
    } else if (kind == ReportText) {
        for (uint32_t k = 0; k < length; ++k) {
            if (text[k] == CR) put_char(LF, stdout);
            put_char(text[k], stdout);
        }
        c.last = text[length - 1];
    } else {
        put_piece(text, length, stdout);
        c.last = text[length - 1];
    }
}

void console_line(Console& c, const char* text) {
    if (text[0] == '\0') return;
    const bool opens_line = text[0] == '\r' && text[1] == '\n';
    if (!opens_line && c.last != LF) std::fputs("\r\n", stdout);
    std::fputs(text, stdout);
    c.last = static_cast<uint8_t>(text[std::strlen(text) - 1]);
    c.cr_shown = false;
}
