// BuildCommDCBA stand-in: the "key=value key=value ..." settings text.
//
// Only the words the serial layer writes are understood.  A text with any
// other word, or a value out of range, is refused as a whole: a port that
// silently ran with a setting it was not given would be worse than one that
// does not open.
#include <algorithm>
#include <cstring>
#include <string_view>

#include "platform/windows_api.h"

namespace {

bool parse_on_off(std::string_view value, bool& on) {
    if (value == "on") {
        on = true;
        return true;
    }
    if (value == "off") {
        on = false;
        return true;
    }
    return false;
}

bool parse_baud(std::string_view value, DWORD& baud) {
    if (value.empty() || value.size() > 9) return false;  // 9 digits cannot overflow
    DWORD result = 0;
    for (char c : value) {
        if (c < '0' || c > '9') return false;
        result = result * 10 + static_cast<DWORD>(c - '0');
    }
    if (result == 0) return false;
    baud = result;
    return true;
}

// Applies one setting to `dcb`; false when the word is not understood.
bool apply_setting(std::string_view key, std::string_view value, DCB& dcb) {
    bool on = false;
    if (key == "baud") return parse_baud(value, dcb.BaudRate);
    if (key == "data") {
        if (value.size() != 1 || value[0] < '5' || value[0] > '8') return false;
        dcb.ByteSize = static_cast<BYTE>(value[0] - '0');
        return true;
    }
    if (key == "parity") {
        if (value == "n") {
            dcb.Parity = NOPARITY;
            dcb.fParity = 0;
        } else if (value == "e") {
            dcb.Parity = EVENPARITY;
            dcb.fParity = 1;
        } else if (value == "o") {
            dcb.Parity = ODDPARITY;
            dcb.fParity = 1;
        } else {
            return false;
        }
        return true;
    }
    if (key == "stop") {
        if (value == "1") {
            dcb.StopBits = ONESTOPBIT;
        } else if (value == "2") {
            dcb.StopBits = TWOSTOPBITS;
        } else {
            return false;
        }
        return true;
    }
    if (key == "xon") {
        if (!parse_on_off(value, on)) return false;
        dcb.fOutX = on ? 1 : 0;
        dcb.fInX = on ? 1 : 0;
        return true;
    }
    // Infinite time-out processing belongs to the time-outs, not the DCB;
    // the word is accepted so the text reads the same on every platform.
    if (key == "to") return parse_on_off(value, on);
    if (key == "odsr") {
        if (!parse_on_off(value, on)) return false;
        dcb.fOutxDsrFlow = on ? 1 : 0;
        return true;
    }
    if (key == "dtr") {
        if (!parse_on_off(value, on)) return false;
        if (on) {
            dcb.fDtrControl = DTR_CONTROL_ENABLE;
        } else {
            dcb.fDtrControl = DTR_CONTROL_DISABLE;
        }
        return true;
    }
    if (key == "rts") {
        if (!parse_on_off(value, on)) return false;
        if (on) {
            dcb.fRtsControl = RTS_CONTROL_ENABLE;
        } else {
            dcb.fRtsControl = RTS_CONTROL_DISABLE;
        }
        return true;
    }
    return false;
}

}  // namespace

BOOL BuildCommDCBA(LPCSTR definition, LPDCB dcb) {
    if (definition == nullptr || dcb == nullptr) return FALSE;
    DCB result = *dcb;  // committed only when the whole text is understood
    result.fBinary = 1;
    std::string_view rest(definition, std::strlen(definition));
    int settings = 0;
    while (!rest.empty()) {
        if (rest.front() == ' ') {
            rest.remove_prefix(1);
            continue;
        }
        const size_t end = std::min(rest.find(' '), rest.size());
        const std::string_view word = rest.substr(0, end);
        rest.remove_prefix(end);
        const size_t equals = word.find('=');
        if (equals == std::string_view::npos) return FALSE;
        if (!apply_setting(word.substr(0, equals), word.substr(equals + 1), result)) return FALSE;
        ++settings;
    }
    if (settings == 0) return FALSE;
    *dcb = result;
    return TRUE;
}
