#include <gtest/gtest.h>

#include <chrono>

#include "platform/windows_api.h"

// The test build's Sleep keeps pausing, but only briefly, so 300 listening
// passes of two pauses each take about a second instead of a minute.
TEST(FastSleep, PausesBrieflyWhateverItIsAsked) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 600; ++i) Sleep(100);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(600));
    EXPECT_LT(took, std::chrono::seconds(5));
}
