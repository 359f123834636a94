// velk_lzh: decode compressed messages from a data modem's monitor output,
// from a capture file or live from a serial port.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/capture_run.h"
#include "app/live_run.h"
#include "app/standard_streams.h"
#include "app/stream_buffers.h"

namespace {

// The first argument in upper case, enough of it to recognise a port name
// and read its number.  Longer arguments are cut at 255 characters.
char argument_copy[256];

constexpr char VERSION_LINE[] = "VELK LZHUF-Decoder Version 1.0.6 (18-SEP-2019)";

void print_usage() {
    std::printf("VELK_lzh: ERROR:");
    std::printf("\r\nMissing input file, please append filename of capture file as first argument...\r\n");
    std::printf("Or append COM port number, e.g. COM25, for continuous monitoring using an ZRQ Korvane modem...\r\n");
    std::printf("EXAMPLE: velk_lzh COM25<Enter>\r\n");
    std::printf("Look for COM port numbers in Windows Device Manager...\r\n");
}

// -h and --help: the usage, as an answer rather than an error.
void print_help() {
    std::printf("USAGE: velk_lzh CAPTURE_FILE | COMn [MODE] | -h | --help | -V | --version\r\n");
    std::printf("Append filename of capture file as first argument to decode it...\r\n");
    std::printf("Or append COM port number, e.g. COM25, for continuous monitoring using an ZRQ Korvane modem...\r\n");
    std::printf("MODE 3 (default) or 4 selects the modem's monitor mode; any key ends the monitoring...\r\n");
    std::printf("EXAMPLE: velk_lzh COM25<Enter>\r\n");
    std::printf("Look for COM port numbers in Windows Device Manager...\r\n");
}

bool is_option(const char* argument, const char* short_name, const char* long_name) {
    return std::strcmp(argument, short_name) == 0 || std::strcmp(argument, long_name) == 0;
}

// An answer that could not be written (a full disk, a closed pipe) is no
// answer: status 1 says so.
int answered() { return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1; }

}  // namespace

int main(int argc, char** argv) {
    open_closed_standard_descriptors();
    use_static_buffer(stdout, ConsoleStream);
    if (argc >= 2 && argv[1] != nullptr && is_option(argv[1], "-V", "--version")) {
        std::printf("%s\r\n", VERSION_LINE);
        return answered();
    }
    std::printf("\r\n%s\n", VERSION_LINE);
    std::printf("==============================================\n\n");

    if (argc < 2 || argv[1] == nullptr) {
        print_usage();
        std::exit(-1);
    }

    if (is_option(argv[1], "-h", "--help")) {
        print_help();
        return answered();
    }

    size_t i = 0;
    for (; i < sizeof argument_copy - 1 && argv[1][i] != '\0'; ++i) {
        argument_copy[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(argv[1][i])));
    }
    argument_copy[i] = '\0';

    if (std::strncmp(argument_copy, "COM", 3) == 0) live_run(argument_copy, argc, argv);
    return capture_file_run(argv[1]);
}
