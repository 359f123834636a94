// The names of a serial port: its entry in the handle table, the device path
// that is opened, and the label the live run's lines show.
//
// Interface:
//   com_port_index(number)     the entry of COMn (n - 1 for n from 1 to 256);
//                              an index beyond the table for any other n,
//                              which the opening refuses.
//   is_port_path(argument)     POSIX: true when the argument names a
//                              terminal device (symbolic links followed), a
//                              device that cannot be opened to find out, or
//                              a path under /dev/ that does not exist (an
//                              adapter not plugged in).  Windows: false.
//   choose_port_path(path)     make `path` the port of PATH_PORT_INDEX and
//                              return that index (one beyond the table when
//                              the path is too long to keep).
//   serial_device_name(index)  the device path opened for the entry.
//   serial_port_label(index)   "COMn", or the path the port was given by.
//   com_device_prefix()        what COMn's device is built from (POSIX).
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr uint32_t COM_PORT_COUNT = 256;
inline constexpr uint32_t PATH_PORT_INDEX = COM_PORT_COUNT;
inline constexpr uint32_t SERIAL_PORT_COUNT = COM_PORT_COUNT + 1;
inline constexpr size_t PORT_PATH_SIZE = 256;

uint32_t com_port_index(int port_number);
bool is_port_path(const char* argument);
uint32_t choose_port_path(const char* path);
const char* serial_device_name(uint32_t port_index);
const char* serial_port_label(uint32_t port_index);
const char* com_device_prefix();
