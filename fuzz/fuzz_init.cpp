#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz_support.h"

std::FILE* fuzz_sink;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The machines print on stdout; nobody reads it here.
    if (!std::freopen("/dev/null", "w", stdout)) std::abort();
    fuzz_sink = std::fopen("/dev/null", "wb");
    if (!fuzz_sink) std::abort();
    return 0;
}
