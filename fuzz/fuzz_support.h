// Shared set-up of the fuzz targets, each of which includes it once: console
// output discarded, a payload sink, files in memory to compare, machines back
// in their process-start state for every input, and std::minstd_rand for
// split and restart points seeded by the input.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "tools/monitor_machines.h"

using Machines = MonitorMachines;

// A payload stream that discards what it is given.
inline std::FILE* fuzz_sink;

inline void reset(Machines& m) { std::memset(&m, 0, sizeof m); }

// A failed check is a crash, which the fuzzer reports with its input.
inline void check(bool ok) {
    if (!ok) std::abort();
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The machines print on stdout; nobody reads it here (the fuzzer's own
    // reports go to stderr).
    check(std::freopen("/dev/null", "w", stdout) != nullptr);
    fuzz_sink = std::fopen("/dev/null", "wb");
    check(fuzz_sink != nullptr);
    return 0;
}

// A growing file in memory, for what two ways of feeding the same input wrote.
struct MemFile {
    char* text = nullptr;
    size_t size = 0;
    std::FILE* stream = open_memstream(&text, &size);
    ~MemFile() {
        std::fclose(stream);
        std::free(text);
    }
};

inline bool same_text(const MemFile& a, const MemFile& b) {
    std::fflush(a.stream);
    std::fflush(b.stream);
    return a.size == b.size && std::memcmp(a.text, b.text, a.size) == 0;
}
