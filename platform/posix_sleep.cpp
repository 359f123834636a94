// Sleep stand-in.
//
// A VELK_FAST_SLEEP build (tests only) pauses 1 ms instead, so tests can run
// the live run's pass-counting watchdog in a second instead of a minute; it
// still pauses, so a loop paced by it never spins.
#include <cerrno>
#include <ctime>

#include "platform/windows_api.h"

void Sleep(DWORD milliseconds) {
#if defined(VELK_FAST_SLEEP) && VELK_FAST_SLEEP
    if (milliseconds > 1) milliseconds = 1;
#endif
    timespec left{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    // A signal (a stop key) cuts the pause short; resume it so every pause
    // keeps its length.
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}
