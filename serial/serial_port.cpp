// SerialPort: opening, configuring and echoing reads.  See serial/serial_port.h.
#include "serial/serial_port.h"

#include <cstdio>
#include <cstring>

#include "platform/char_output.h"
#include "platform/failure_output.h"
#include "serial/open_failure.h"

HANDLE serial_handles[SERIAL_PORT_COUNT];
char serial_config[SERIAL_CONFIG_SIZE];
uint32_t serial_open_error;

namespace {

void append_config(const char* text) {
    const size_t used = std::strlen(serial_config);
    std::snprintf(serial_config + used, SERIAL_CONFIG_SIZE - used, "%s", text);
}

// Builds the settings text from the mode text; false after printing why
// the mode is refused.
bool build_config(const char* mode) {
    std::snprintf(serial_config, SERIAL_CONFIG_SIZE, "%s", "baud=115200");
    if (std::strlen(mode) != 3) {
        print_failure("invalid mode \"%s\"\n", mode);
        return false;
    }
    switch (mode[0]) {
        case '5': append_config(" data=5"); break;
        case '6': append_config(" data=6"); break;
        case '7': append_config(" data=7"); break;
        case '8': append_config(" data=8"); break;
        default: print_failure("invalid number of data-bits '%c'\n", mode[0]); return false;
    }
    switch (mode[1]) {
        case 'N':
        case 'n': append_config(" parity=n"); break;
        case 'E':
        case 'e': append_config(" parity=e"); break;
        case 'O':
        case 'o': append_config(" parity=o"); break;
        default: print_failure("invalid parity '%c'\n", mode[1]); return false;
    }
    switch (mode[2]) {
        case '1': append_config(" stop=1"); break;
        case '2': append_config(" stop=2"); break;
        default: print_failure("invalid number of stop bits '%c'\n", mode[2]); return false;
    }
    append_config(" xon=off to=off odsr=off dtr=on rts=on");
    return true;
}

// Opens the port and applies serial_config; nullptr when it is ready,
// else why not (a port opened but not configured is closed again).
const char* open_configured(uint32_t port_index) {
    HANDLE& handle = serial_handles[port_index];
    serial_open_error = 0;
    handle = CreateFileA(serial_device_name(port_index), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                         OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        serial_open_error = last_system_error();
        return "unable to open comport\n";
    }

    DCB dcb;
    std::memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    // Reads return at once with what has arrived; writes never time out.
    COMMTIMEOUTS timeouts;
    std::memset(&timeouts, 0, sizeof timeouts);
    timeouts.ReadIntervalTimeout = MAXDWORD;

    const char* reason = nullptr;
    if (!BuildCommDCBA(serial_config, &dcb)) {
        reason = "unable to set comport dcb settings\n";
    } else if (!SetCommState(handle, &dcb)) {
        serial_open_error = last_system_error();
        reason = "unable to set comport cfg settings\n";
    } else if (!SetCommTimeouts(handle, &timeouts)) {
        serial_open_error = last_system_error();
        reason = "unable to set comport time-out settings\n";
    }
    if (reason != nullptr) CloseHandle(handle);
    return reason;
}

}  // namespace

int open_serial_port(uint32_t port_index, const char* serial_mode) {
    if (port_index >= SERIAL_PORT_COUNT) {
        print_failure("illegal comport number\n");
        return 1;
    }
    if (!build_config(serial_mode != nullptr ? serial_mode : "")) return 1;
    if (port_index == PATH_PORT_INDEX) {
        std::printf("\r\nOpen port %s: %s\r\n", serial_device_name(port_index), serial_config);
    } else {
        std::printf("\r\nOpen COM port %d: %s\r\n", static_cast<int>(port_index + 1), serial_config);
    }

    const char* const reason = open_configured(port_index);
    if (reason != nullptr) {
        print_failure("%s", reason);
        // A settings text the platform refuses is ours to fix, not the user's.
        if (serial_open_error != 0) explain_open_failure(port_index, serial_open_error);
        return 1;
    }
    return 0;
}

int reopen_serial_port(uint32_t port_index) {
    if (port_index >= SERIAL_PORT_COUNT) return 1;
    return open_configured(port_index) == nullptr ? 0 : 1;
}

void read_and_echo(uint32_t port_index) {
    // Callers pass an index they opened; one beyond the table would read
    // outside it, so it reads nothing instead.
    if (port_index >= SERIAL_PORT_COUNT) return;
    unsigned char buffer[SERIAL_READ_SIZE];
    DWORD count = 0;
    ReadFile(serial_handles[port_index], buffer, SERIAL_READ_SIZE - 1, &count, nullptr);
    if (count > SERIAL_READ_SIZE - 1) count = 0;
    for (DWORD i = 0; i < count; ++i) put_char(buffer[i], stdout);
}
