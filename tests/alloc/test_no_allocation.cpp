// A capture-file run allocates nothing while it works: the number of heap
// allocations in the whole process (C library internals included, counted
// by the preloaded allocation counter) is the same for an empty capture as
// for a large one full of messages.  The only difference allowed is the one
// stream opened for a capture whose payload outgrows the ring (the spill
// file), and that stays one however large the capture grows.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/run_program.h"
#include "tools/capture_builder.h"

namespace {

long allocations_for(const std::string& capture) {
    TempDir dir;
    write_file(dir / "cap.txt", capture);
    const ProgramResult r = run_program(VELK_LZH_PATH, {"cap.txt"}, dir.path(),
                                        {"LD_PRELOAD=" VELK_ALLOC_COUNTER, "VELK_ALLOC_LOG=" + (dir / "count")});
    EXPECT_EQ(r.status, 0);
    const std::string count = read_file(dir / "count");
    EXPECT_FALSE(count.empty()) << "the counter did not report";
    return count.empty() ? -1 : std::stol(count);
}

// Random letters: they compress poorly, so 40 messages outgrow the ring.
std::string capture_of(size_t messages, uint64_t seed) {
    std::vector<TransferMessage> msgs(messages);
    CaptureRng rng{seed};
    for (TransferMessage& msg : msgs) {
        for (size_t k = 0; k < 4000; ++k) msg.text += k % 61 == 60 ? '\n' : static_cast<char>('a' + rng_between(rng, 0, 25));
    }
    CaptureOptions options;
    options.seed = seed;
    return build_capture(msgs, options).text;
}

TEST(NoAllocation, RunAllocatesNothingBeyondOpeningItsStreams) {
    const long empty = allocations_for("");
    ASSERT_GT(empty, 0) << "start-up of the C++ runtime allocates; the counter must see it";
    // About 30 000 payload bytes: the ring alone holds them.
    EXPECT_EQ(allocations_for(capture_of(6, 1)), empty);
    // Well past the ring's 100 000 bytes: one more stream, the spill file,
    // and no more for a capture five times larger.
    const long spilled = allocations_for(capture_of(40, 2));
    EXPECT_EQ(spilled, empty + 1);
    EXPECT_EQ(allocations_for(capture_of(200, 3)), spilled);
}

}  // namespace
