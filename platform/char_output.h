// Single-character output without the per-call stream lock.
//
// Decoded text leaves the program one character at a time, on the console
// and in the payload file.  The locking putc of the C library takes a lock per
// character, which is most of the cost of writing decoded text; the whole
// program runs on one thread, so the unlocked variants are safe and write the
// same bytes in the same order.
#pragma once

#include <cstdio>

inline void put_char(int c, std::FILE* stream) {
#if defined(_WIN32)
    _putc_nolock(c, stream);
#else
    putc_unlocked(c, stream);
#endif
}

// A piece of text: short pieces, as one byte of a message gives, go
// character by character, which is cheaper there than a stream call.
inline void put_piece(const unsigned char* text, unsigned length, std::FILE* stream) {
    if (length < 16) {
        for (unsigned k = 0; k < length; ++k) put_char(text[k], stream);
    } else {
        std::fwrite(text, 1, length, stream);
    }
}

// Reading side of the same idea, for the capture-file reader.
inline int get_char(std::FILE* stream) {
#if defined(_WIN32)
    return _getc_nolock(stream);
#else
    return getc_unlocked(stream);
#endif
}
