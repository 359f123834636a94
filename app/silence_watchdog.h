// The live run's silence watchdog: a transfer whose bytes stop arriving is
// abandoned once no payload byte has reached the framer for more than 300
// listening passes (200 ms each, about a minute) while it was under way.  It
// measures silence of the payload stream, not progress of the message; an
// announced message whose transfer has not begun is awaited however long.
//
//   watchdog_heard(w)                 a payload byte reached the framer
//   watchdog_pass(w, under_way)       one more listening pass; true when the
//                                     transfer under way must be abandoned
#pragma once

#include <cstdint>

inline constexpr int32_t SILENCE_LIMIT = 300;

struct SilenceWatchdog {
    int32_t silent_passes;  // passes since a payload byte last reached the framer
};

inline void watchdog_heard(SilenceWatchdog& w) { w.silent_passes = 0; }

inline bool watchdog_pass(SilenceWatchdog& w, bool transfer_under_way) {
    if (!transfer_under_way) {
        w.silent_passes = 0;
        return false;
    }
    ++w.silent_passes;
    return w.silent_passes > SILENCE_LIMIT;
}
