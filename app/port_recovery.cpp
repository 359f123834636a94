#include "app/port_recovery.h"

#include <cstdio>

#include "app/instances.h"
#include "platform/windows_api.h"
#include "serial/open_failure.h"
#include "serial/serial_port.h"

namespace {

// Pauses of 100 ms between two tries to open the port: about a second, and
// a key is seen within 100 ms.
constexpr int PAUSES_PER_TRY = 10;

// "\r\n### PORT <label><what>\r\n" on the console, shown at once.
void show_port_line(uint32_t port_index, const char* what) {
    char line[512];
    std::snprintf(line, sizeof line, "\r\n### PORT %s%s\r\n", serial_port_label(port_index), what);
    run_line(run_streams, line, false);
    std::fflush(stdout);
}

}  // namespace

bool port_present(uint32_t port_index) {
    DWORD errors = 0;
    COMSTAT status{};
    return ClearCommError(serial_handles[port_index], &errors, &status) != FALSE;
}

void lose_port(uint32_t port_index) {
    // A transfer under way is cut off for good and gets its check line; an
    // announced message still awaited stays awaited, with the announcements
    // behind it.  The report being read is cut off too: after the return
    // the parser starts on fresh monitor text.
    abandon_transfer(message_framer, lzhuf_decoder, program_output, PortLost);
    show_port_line(port_index, " LOST, WAITING FOR IT TO RETURN...");
    restart(monitor_parser);
    CloseHandle(serial_handles[port_index]);
    serial_handles[port_index] = INVALID_HANDLE_VALUE;
}

bool await_port(uint32_t port_index) {
    uint32_t shown_error = 0;
    for (;;) {
        for (int pause = 0; pause < PAUSES_PER_TRY; ++pause) {
            Sleep(100);
            if (_kbhit()) return false;
        }
        if (reopen_serial_port(port_index) == 0) {
            show_port_line(port_index, " IS BACK, STARTING THE MODEM AGAIN");
            return true;
        }
        if (serial_open_error != shown_error) {
            shown_error = serial_open_error;
            char line[512];
            std::snprintf(line, sizeof line, "\r\n### PORT %s\r\n", port_reason(port_index, shown_error));
            run_line(run_streams, line, false);
            std::fflush(stdout);
        }
        serial_handles[port_index] = INVALID_HANDLE_VALUE;
    }
}
