// A capture-file run allocates nothing while it works: the number of heap
// allocations in the whole process (C library internals included, counted
// by the preloaded alloc_counter) is the same for an empty capture as for a
// large one full of messages, also one whose payload outgrows the ring and
// is read a second time for decoding.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "monitor/payload_ring.h"
#include "tests/support/run_program.h"
#include "tests/support/sample_text.h"
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

// `messages` messages whose payload bytes fill the ring `rings` times over
// (0: fit in it).
std::string capture_of(int messages, uint64_t seed, size_t rings) {
    std::vector<TransferMessage> msgs;
    for (int i = 0; i < messages; ++i) msgs.push_back({sample_text(seed + static_cast<uint64_t>(i), 12000)});
    CaptureOptions options;
    options.seed = seed;
    const CaptureBuilder b = build_capture(msgs, options);
    EXPECT_TRUE(rings ? b.payload.size() > rings * PAYLOAD_RING_SIZE : b.payload.size() < PAYLOAD_RING_SIZE);
    return b.text;
}

TEST(NoAllocation, RunAllocatesNothingBeyondOpeningItsStreams) {
    const long empty = allocations_for("");
    ASSERT_GT(empty, 0) << "start-up of the C++ runtime allocates; the counter must see it";
    EXPECT_EQ(allocations_for(capture_of(4, 1, 0)), empty);
    EXPECT_EQ(allocations_for(capture_of(40, 2, 1)), empty);
    EXPECT_EQ(allocations_for(capture_of(200, 3, 5)), empty);
}

}  // namespace
