// Reasons and remedies for a port that cannot be used.  See serial/open_failure.h.
#include "serial/open_failure.h"

#include <cstdio>
#include <cstring>

#include "platform/failure_output.h"
#include "platform/windows_api.h"
#include "serial/port_name.h"

#if !defined(_WIN32)
#include <grp.h>
#include <sys/stat.h>

#include <cerrno>
#endif

namespace {

char reason[2 * PORT_PATH_SIZE + 256];

enum Remedy { NoRemedy, ListPorts, JoinGroup, EndOtherProgram };

#if defined(_WIN32)
Remedy remedy_for(uint32_t code) {
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return ListPorts;
    // Windows refuses a port that another program holds with "access denied".
    if (code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION) return EndOtherProgram;
    return NoRemedy;
}

void append_message(char* text, size_t room, uint32_t code) {
    if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                       static_cast<DWORD>(room), nullptr) == 0) {
        std::snprintf(text, room, "error %u", static_cast<unsigned>(code));
    }
    // The system's messages end with ".\r\n"; the line is ours to end.
    for (size_t end = std::strlen(text); end > 0 && std::strchr(".\r\n ", text[end - 1]) != nullptr; --end) {
        text[end - 1] = '\0';
    }
}

void print_group_remedy(const char*) {}
#else
Remedy remedy_for(uint32_t code) {
    const int error = static_cast<int>(code);
    if (error == ENOENT || error == ENODEV || error == ENXIO) return ListPorts;
    if (error == EACCES || error == EPERM) return JoinGroup;
    if (error == EBUSY || error == EWOULDBLOCK) return EndOtherProgram;
    return NoRemedy;
}

void append_message(char* text, size_t room, uint32_t code) {
    std::snprintf(text, room, "%s", std::strerror(static_cast<int>(code)));
}

// Access to a serial device comes with membership of the group that owns it
// (dialout on Debian), and a new membership only with a new login.
void print_group_remedy(const char* device) {
    struct stat info {};
    group entry {};
    group* found = nullptr;
    char storage[1024];
    const char* name = "dialout";
    if (stat(device, &info) == 0 && getgrgid_r(info.st_gid, &entry, storage, sizeof storage, &found) == 0 &&
        found != nullptr) {
        name = found->gr_name;
    }
    print_failure("velk_lzh: %s belongs to group %s: join it (sudo usermod -aG %s $USER), then log in again\n",
                  device, name, name);
}
#endif

}  // namespace

uint32_t last_system_error() {
#if defined(_WIN32)
    return GetLastError();
#else
    return static_cast<uint32_t>(errno);
#endif
}

const char* port_reason(uint32_t port_index, uint32_t code) {
    const char* const device = serial_device_name(port_index);
    const char* const label = serial_port_label(port_index);
    int used = 0;
    if (std::strcmp(device, label) == 0) {
        used = std::snprintf(reason, sizeof reason, "%s: ", device);
    } else {
        used = std::snprintf(reason, sizeof reason, "%s (%s): ", label, device);
    }
    if (used < 0 || static_cast<size_t>(used) >= sizeof reason) used = 0;
    append_message(reason + used, sizeof reason - static_cast<size_t>(used), code);
    return reason;
}

void explain_open_failure(uint32_t port_index, uint32_t code) {
    print_failure("velk_lzh: %s\n", port_reason(port_index, code));
    switch (remedy_for(code)) {
        case ListPorts: print_failure("velk_lzh: no such device; velk_lzh --list shows the serial ports present\n"); break;
        case JoinGroup: print_group_remedy(serial_device_name(port_index)); break;
        case EndOtherProgram: print_failure("velk_lzh: the port is busy: another program uses it, end that one first\n"); break;
        case NoRemedy: break;
    }
}
