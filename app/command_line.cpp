#include "app/command_line.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/failure_output.h"
#include "serial/port_name.h"

namespace {

bool is_option(const char* argument, const char* short_name, const char* long_name) {
    return std::strcmp(argument, short_name) == 0 || std::strcmp(argument, long_name) == 0;
}

bool is_known_option(const char* argument) {
    return is_option(argument, "-h", "--help") || is_option(argument, "-V", "--version") ||
           std::strcmp(argument, "--list") == 0 || is_option(argument, "-m", "--messages");
}

// A capture file whose name starts with '-' is given as "./-x".
bool looks_like_option(const char* argument) { return argument[0] == '-' && argument[1] != '\0'; }

// "COM" in any letter case starts a port name, even where such a file exists.
bool is_com_name(const char* argument) {
    for (int i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(argument[i])) != "COM"[i]) return false;
    }
    return true;
}

CommandKind refuse(const char* what, const char* argument) {
    print_failure("velk_lzh: %s %s (see velk_lzh --help)\n", what, argument);
    return Refused;
}

CommandKind first_argument_kind(const char* argument) {
    if (is_option(argument, "-V", "--version")) return ShowVersion;
    if (is_option(argument, "-h", "--help")) return ShowHelp;
    if (std::strcmp(argument, "--list") == 0) return ListPorts;
    if (is_com_name(argument) || is_port_path(argument)) return LiveRunOnPort;
    return CaptureRun;
}

}  // namespace

CommandKind read_command_line(int argc, char** argv) {
    if (argc < 2 || argv[1] == nullptr) return NoArgument;
    for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
        if (!looks_like_option(argv[i]) || (i == 1 && is_known_option(argv[i]))) continue;
        return refuse(is_known_option(argv[i]) ? "unexpected argument" : "unknown option", argv[i]);
    }
    const CommandKind kind = first_argument_kind(argv[1]);
    const int allowed = kind == LiveRunOnPort ? 3 : 2;  // the port takes a mode
    if (argc > allowed && argv[allowed] != nullptr) return refuse("unexpected argument", argv[allowed]);
    return kind;
}

bool take_messages_option(int& argc, char**& argv, const char*& dir) {
    if (argc < 2 || argv[1] == nullptr || !is_option(argv[1], "-m", "--messages")) return true;
    if (argc < 3 || argv[2] == nullptr) {
        refuse("missing folder after", argv[1]);
        return false;
    }
    dir = argv[2];
    // The program's name stays in front; the run's arguments follow it.
    argv[2] = argv[0];
    argv += 2;
    argc -= 2;
    return true;
}

void warn_about_mode(const char* mode) {
    // Read as the live run reads it: the number at its start.
    const long value = std::strtol(mode, nullptr, 10);
    if (value != 3 && value != 4) print_failure("velk_lzh: mode %s is neither 3 nor 4, mode 3 is used\n", mode);
}

void print_device_help() {
#if defined(_WIN32)
    std::printf("Look for COM port numbers in Windows Device Manager...\r\n");
#else
    std::printf("COM1 is %s in this build (COMn: %s<n-1>, n up to %u); a device path may be given instead,\r\n",
                serial_device_name(0), com_device_prefix(), static_cast<unsigned>(COM_PORT_COUNT));
    std::printf("e.g. velk_lzh /dev/ttyUSB0 or velk_lzh /dev/serial/by-id/usb-...<Enter>\r\n");
#endif
}
