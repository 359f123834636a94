// COMn and device paths as ports.  See serial/port_name.h.
#include "serial/port_name.h"

#include <cstdio>
#include <cstring>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

#if !defined(_WIN32) && !defined(VELK_SERIAL_DEVICE_PREFIX)
#error "VELK_SERIAL_DEVICE_PREFIX must name the serial device prefix (CMake sets it)"
#endif

namespace {

char path_port[PORT_PATH_SIZE];
// Room for the longest prefix CMake allows plus a number; the label of a
// COM port is short.
char device_name[PORT_PATH_SIZE + 16];
char label[16];

}  // namespace

uint32_t com_port_index(int port_number) {
    if (port_number < 1 || port_number > static_cast<int>(COM_PORT_COUNT)) return SERIAL_PORT_COUNT;
    return static_cast<uint32_t>(port_number - 1);
}

bool is_port_path(const char* argument) {
#if defined(_WIN32)
    (void)argument;
    return false;
#else
    struct stat info {};
    if (stat(argument, &info) != 0) return errno == ENOENT && std::strncmp(argument, "/dev/", 5) == 0;
    if (!S_ISCHR(info.st_mode)) return false;
    // Only an open tells a terminal from another device (/dev/null is a
    // capture).  One that cannot be opened is taken as a port, so that the
    // live run says why it cannot be used.
    const int fd = open(argument, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return true;
    const bool terminal = isatty(fd) != 0;
    close(fd);
    return terminal;
#endif
}

uint32_t choose_port_path(const char* path) {
    if (std::strlen(path) >= PORT_PATH_SIZE) return SERIAL_PORT_COUNT;
    std::strcpy(path_port, path);
    return PATH_PORT_INDEX;
}

const char* serial_device_name(uint32_t port_index) {
    if (port_index == PATH_PORT_INDEX) return path_port;
#if defined(_WIN32)
    std::snprintf(device_name, sizeof device_name, "\\\\.\\COM%u", static_cast<unsigned>(port_index + 1));
#else
    std::snprintf(device_name, sizeof device_name, "%s%u", VELK_SERIAL_DEVICE_PREFIX, static_cast<unsigned>(port_index));
#endif
    return device_name;
}

const char* serial_port_label(uint32_t port_index) {
    if (port_index == PATH_PORT_INDEX) return path_port;
    std::snprintf(label, sizeof label, "COM%u", static_cast<unsigned>(port_index + 1));
    return label;
}

const char* com_device_prefix() {
#if defined(_WIN32)
    return "\\\\.\\COM";
#else
    return VELK_SERIAL_DEVICE_PREFIX;
#endif
}
