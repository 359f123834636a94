// The live run's silence watchdog: a message whose bytes stop arriving is
// abandoned once no payload byte has reached the framer for more than 300
// listening passes (200 ms each, about a minute).  It measures silence of
// the payload stream, not progress of the message.
//
//   watchdog_heard(w)                a payload byte reached the framer
//   watchdog_pass(w, in_progress)    one more listening pass; true when the
//                                    message in progress must be abandoned
#pragma once

#include <cstdint>

inline constexpr int32_t SILENCE_LIMIT = 300;

struct SilenceWatchdog {
    int32_t silent_passes;  // passes since a payload byte last reached the framer
};

inline void watchdog_heard(SilenceWatchdog& w) { w.silent_passes = 0; }

inline bool watchdog_pass(SilenceWatchdog& w, bool message_in_progress) {
    // Days of silence must not wrap the count back below the limit.
    if (w.silent_passes < INT32_MAX) ++w.silent_passes;
    return w.silent_passes > SILENCE_LIMIT && message_in_progress;
}
