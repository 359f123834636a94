// Reading numbers out of the short text windows that the monitor machines
// look at.  Both behave exactly like the C library conversions they stand in
// for, but over a bounded window and without the cost of a library call per
// character pair (most input of a busy channel is hexadecimal pairs).
//
//   read_decimal(text, size)   as atoi: leading white space, optional sign,
//                              decimal digits up to the first other character
//                              or the window's end; 0 without digits.  The
//                              value is kept to its low 32 bits, as atoi does
//                              for the up to 18 digits these windows hold.
//   hex_pair_value(first, second)
//                              as "%x" over the two characters: leading white
//                              space, optional sign, hex digits of either case
//                              up to the first other character; 0 if nothing
//                              converts; the low 8 bits of the result.
// A NUL ends the text, as it ends the C string the library would be given.
#pragma once

#include <cstdint>

// Value of each byte as a hexadecimal digit, -1 if it is none.
struct HexDigitTable {
    int8_t value[256];
};

inline constexpr HexDigitTable make_hex_digit_table() {
    HexDigitTable t{};
    for (int i = 0; i < 256; ++i) t.value[i] = -1;
    for (int i = 0; i < 10; ++i) t.value['0' + i] = static_cast<int8_t>(i);
    for (int i = 0; i < 6; ++i) {
        t.value['a' + i] = static_cast<int8_t>(10 + i);
        t.value['A' + i] = static_cast<int8_t>(10 + i);
    }
    return t;
}

inline constexpr HexDigitTable HEX_DIGITS = make_hex_digit_table();

// The white space of the C locale, which the program never changes.
inline bool is_c_space(uint8_t c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

int32_t read_decimal(const char* text, int32_t size);

// A length as a person reads it off a line: leading white space, an optional
// plus, decimal digits while the value still fits in 63 bits.  A minus sign
// or no digits give 0: a length is never negative.
int64_t read_length(const char* text, int32_t size);

// Signs, blanks and other odd pairs take the slow path.
uint8_t hex_pair_slow(uint8_t first, uint8_t second);

inline uint8_t hex_pair_value(uint8_t first, uint8_t second) {
    const int8_t high = HEX_DIGITS.value[first];
    const int8_t low = HEX_DIGITS.value[second];
    if ((high | low) >= 0) return static_cast<uint8_t>(high << 4 | low);
    return hex_pair_slow(first, second);
}
