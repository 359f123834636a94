// The lines that end a run with a failure status go to standard error.  What
// the run showed on standard output before them is flushed first, so a
// console that shows both keeps them in order.
#pragma once

#include <cstdarg>
#include <cstdio>

[[gnu::format(printf, 1, 2)]] inline void print_failure(const char* format, ...) {
    std::fflush(stdout);
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
}
