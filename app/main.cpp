// velk_lzh: decode compressed messages from a data modem's monitor output,
// from a capture file or live from a serial port.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/capture_run.h"
#include "app/command_line.h"
#include "app/live_run.h"
#include "app/standard_streams.h"
#include "app/stream_buffers.h"
#include "platform/failure_output.h"
#include "serial/port_list.h"

namespace {

// The first argument in upper case, enough of it to recognise a port name
// and read its number.  Longer arguments are cut at 255 characters.
char argument_copy[256];

constexpr char VERSION_LINE[] = "VELK LZHUF-Decoder Version 1.0.6 (18-SEP-2019)";

void print_usage() {
    print_failure("VELK_lzh: ERROR:");
    print_failure("\r\nMissing input file, please append filename of capture file as first argument...\r\n");
    print_failure("Or append COM port number, e.g. COM25, for continuous monitoring using an ZRQ Korvane modem...\r\n");
    print_failure("EXAMPLE: velk_lzh COM25<Enter>\r\n");
    print_failure("Look for COM port numbers in Windows Device Manager...\r\n");
}

// -h and --help: the usage, as an answer rather than an error.
void print_help() {
    std::printf("USAGE: velk_lzh [-m DIR] CAPTURE_FILE | - | COMn [MODE] | DEVICE [MODE] | --list | -h | --help | -V | --version\r\n");
    std::printf("Append filename of capture file as first argument to decode it ('-' reads standard input)...\r\n");
    std::printf("Or append COM port number, e.g. COM25, for continuous monitoring using an ZRQ Korvane modem...\r\n");
    std::printf("MODE 3 (default) or 4 selects the modem's monitor mode; any key ends the monitoring...\r\n");
    std::printf("EXAMPLE: velk_lzh COM25<Enter>\r\n");
    print_device_help();
    std::printf("velk_lzh --list shows the serial ports present...\r\n");
    std::printf("-m DIR (or --messages DIR) before the capture or port also writes each message to a file of its\r\n");
    std::printf("own in DIR, listed in DIR/index.tsv...\r\n");
}

// An answer that could not be written (a full disk, a closed pipe) is no
// answer: status 1 says so.
int answered() { return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1; }

}  // namespace

int main(int argc, char** argv) {
    open_closed_standard_descriptors();
    use_static_buffer(stdout, ConsoleStream);
    const char* messages_dir = nullptr;
    if (!take_messages_option(argc, argv, messages_dir)) return STATUS_REFUSED;
    const CommandKind kind = read_command_line(argc, argv);
    if (kind == Refused) return STATUS_REFUSED;
    if (kind == ListPorts) return list_serial_ports();
    if (kind == ShowVersion) {
        std::printf("%s\r\n", VERSION_LINE);
        return answered();
    }
    std::printf("\r\n%s\n", VERSION_LINE);
    std::printf("==============================================\n\n");

    if (kind == NoArgument) {
        print_usage();
        std::exit(-1);
    }

    if (kind == ShowHelp) {
        print_help();
        return answered();
    }

    size_t i = 0;
    for (; i < sizeof argument_copy - 1 && argv[1][i] != '\0'; ++i) {
        argument_copy[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(argv[1][i])));
    }
    argument_copy[i] = '\0';

    if (kind == LiveRunOnPort) {
        if (argc > 2) warn_about_mode(argv[2]);
        // A device path is opened as it was given; a COM name is read from the copy.
        live_run(std::strncmp(argument_copy, "COM", 3) == 0 ? argument_copy : argv[1], argc, argv, messages_dir);
    }
    return capture_file_run(argv[1], messages_dir);
}
