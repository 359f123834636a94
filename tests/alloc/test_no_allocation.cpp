// A capture-file run allocates nothing while it works: the number of heap
// allocations in the whole process (C library internals included, counted
// by the preloaded alloc_counter) is the same for an empty capture as for a
// large one full of messages, also one whose payload outgrows the ring and
// is read a second time for decoding.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "tests/support/run_program.h"
#include "tools/capture_builder.h"

namespace {

// Runs velk_lzh on `capture` with the counter preloaded; returns the count.
// The settings go into this process's environment only for the run, so the
// common runner passes them on without knowing about them.
long allocations_for(const std::string& capture) {
    TempDir dir;
    write_file(dir / "cap.txt", capture);
    setenv("LD_PRELOAD", VELK_ALLOC_COUNTER, 1);
    setenv("VELK_ALLOC_LOG", (dir / "allocations").c_str(), 1);
    const ProgramResult r = run_program(VELK_LZH_PATH, {"cap.txt"}, dir.path());
    unsetenv("LD_PRELOAD");
    unsetenv("VELK_ALLOC_LOG");
    EXPECT_EQ(r.status, 0);
    const std::string count = read_file(dir / "allocations");
    EXPECT_FALSE(count.empty()) << "the counter did not report";
    return count.empty() ? -1 : std::stol(count);
}

std::string capture_of(int messages, size_t text_size, uint64_t seed) {
    std::vector<TransferMessage> msgs;
    CaptureRng rng{seed};
    for (int i = 0; i < messages; ++i) {
        TransferMessage msg;
        for (size_t k = 0; k < text_size; ++k) {
            msg.text += (k % 61 == 60) ? '\n' : static_cast<char>('a' + rng_between(rng, 0, 25));
        }
        msgs.push_back(msg);
    }
    CaptureOptions options;
    options.seed = seed;
    return build_capture(msgs, options).text;
}

TEST(NoAllocation, RunAllocatesNothingBeyondOpeningItsStreams) {
    const long empty = allocations_for("");
    ASSERT_GT(empty, 0) << "start-up of the C++ runtime allocates; the counter must see it";

    // About 30 000 payload bytes: the ring alone holds them.
    EXPECT_EQ(allocations_for(capture_of(6, 4000, 1)), empty);

    // Well past the ring's 100 000 bytes, and five times that.
    EXPECT_EQ(allocations_for(capture_of(40, 4000, 2)), empty);
    EXPECT_EQ(allocations_for(capture_of(200, 4000, 3)), empty);
}

}  // namespace
