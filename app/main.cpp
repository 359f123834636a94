// velk_lzh: decode compressed messages from a data modem's monitor output,
// from a capture file or live from a serial port.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/capture_run.h"
#include "app/live_run.h"
#include "app/stream_buffers.h"

namespace {

// The first argument in upper case, enough of it to recognise a port name
// and read its number.  Longer arguments are cut at 255 characters.
char argument_copy[256];

void print_usage() {
    std::printf("VELK_lzh: ERROR:");
    std::printf("\r\nMissing input file, please append filename of capture file as first argument...\r\n");
    std::printf("Or append COM port number, e.g. COM25, for continuous monitoring using an ZRQ Korvane modem...\r\n");
    std::printf("EXAMPLE: velk_lzh COM25<Enter>\r\n");
    std::printf("Look for COM port numbers in Windows Device Manager...\r\n");
}

}  // namespace

int main(int argc, char** argv) {
    use_static_buffer(stdout, ConsoleStream);
    std::printf("\r\nVELK LZHUF-Decoder Version 1.0.6 (18-SEP-2019)\n");
    std::printf("==============================================\n\n");

    if (argc < 2 || argv[1] == nullptr) {
        print_usage();
        std::exit(-1);
    }

    size_t i = 0;
    for (; i < sizeof argument_copy - 1 && argv[1][i] != '\0'; ++i) {
        argument_copy[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(argv[1][i])));
    }
    argument_copy[i] = '\0';

    if (std::strncmp(argument_copy, "COM", 3) == 0) live_run(argument_copy, argc, argv);
    return capture_file_run(argv[1]);
}
