// The device path of each port.  On Windows the fixed "\\.\COMn" names;
// elsewhere COMn is the n-th device of the build's prefix, counted from 0 as
// POSIX serial devices are (COM1 is /dev/ttyS0 with the default prefix).
#include "serial/serial_port.h"

#if defined(_WIN32)
#define PORT_NAME(posix_number, com_number) "\\\\.\\COM" #com_number
#else
#ifndef VELK_SERIAL_DEVICE_PREFIX
#error "VELK_SERIAL_DEVICE_PREFIX must name the serial device prefix (CMake sets it)"
#endif
#define PORT_NAME(posix_number, com_number) VELK_SERIAL_DEVICE_PREFIX #posix_number
#endif

const char* const serial_device_names[SERIAL_PORT_COUNT] = {
    PORT_NAME(0, 1),   PORT_NAME(1, 2),   PORT_NAME(2, 3),   PORT_NAME(3, 4),   PORT_NAME(4, 5),
    PORT_NAME(5, 6),   PORT_NAME(6, 7),   PORT_NAME(7, 8),   PORT_NAME(8, 9),   PORT_NAME(9, 10),
    PORT_NAME(10, 11), PORT_NAME(11, 12), PORT_NAME(12, 13), PORT_NAME(13, 14), PORT_NAME(14, 15),
    PORT_NAME(15, 16), PORT_NAME(16, 17), PORT_NAME(17, 18), PORT_NAME(18, 19), PORT_NAME(19, 20),
    PORT_NAME(20, 21), PORT_NAME(21, 22), PORT_NAME(22, 23), PORT_NAME(23, 24), PORT_NAME(24, 25),
    PORT_NAME(25, 26), PORT_NAME(26, 27), PORT_NAME(27, 28), PORT_NAME(28, 29), PORT_NAME(29, 30),
    PORT_NAME(30, 31), PORT_NAME(31, 32),
};
