#include "app/live_run.h"

#include <cstdio>
#include <cstdlib>

// Placeholder until the serial layer lands: a port argument must never fall
// through to the capture-file run.
void live_run(const char* argument_copy, int argc, char** argv) {
    (void)argc;
    (void)argv;
    std::printf("\r\nTrying to open COM port %d...\r\n", std::atoi(argument_copy + 3));
    std::printf("Can not open comport\n");
    std::exit(-5);
}
