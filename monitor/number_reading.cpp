#include "monitor/number_reading.h"

int32_t read_decimal(const char* text, int32_t size) {
    int32_t i = 0;
    auto at = [text](int32_t k) { return static_cast<uint8_t>(text[k]); };
    while (i < size && is_c_space(at(i))) ++i;
    bool negative = false;
    if (i < size && (at(i) == '-' || at(i) == '+')) {
        negative = at(i) == '-';
        ++i;
    }
    // Unsigned arithmetic: wraps where a longer window would overflow, and
    // the low 32 bits come out as the library's conversion gives them.
    uint64_t value = 0;
    while (i < size && at(i) >= '0' && at(i) <= '9') {
        value = value * 10u + static_cast<uint64_t>(at(i) - '0');
        ++i;
    }
    if (negative) value = ~value + 1u;
    return static_cast<int32_t>(static_cast<uint32_t>(value));
}

int64_t read_length(const char* text, int32_t size) {
    int32_t i = 0;
    auto at = [text](int32_t k) { return static_cast<uint8_t>(text[k]); };
    while (i < size && is_c_space(at(i))) ++i;
    if (i < size && at(i) == '+') ++i;
    int64_t value = 0;
    while (i < size && at(i) >= '0' && at(i) <= '9') {
        const int64_t digit = at(i) - '0';
        if (value > (INT64_MAX - digit) / 10) break;
        value = value * 10 + digit;
        ++i;
    }
    return value;
}

uint8_t hex_pair_slow(uint8_t first, uint8_t second) {
    const uint8_t text[3] = {first, second, 0};
    int32_t i = 0;
    while (is_c_space(text[i])) ++i;
    bool negative = false;
    if (text[i] == '-' || text[i] == '+') {
        negative = text[i] == '-';
        ++i;
    }
    uint32_t value = 0;
    while (HEX_DIGITS.value[text[i]] >= 0) {
        value = value << 4 | static_cast<uint32_t>(HEX_DIGITS.value[text[i]]);
        ++i;
    }
    if (negative) value = ~value + 1u;
    return static_cast<uint8_t>(value);
}
