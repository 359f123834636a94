// SerialPort: opens one of the ports COM1..COM256 by index (0..255), or the
// port given by its device path (see serial/port_name.h), and reads what has
// arrived without waiting.
//
// Interface:
//   open_serial_port(index, mode)  open and configure port index + 1 at
//                                  115200 baud with the data format of the
//                                  three-character mode text ("8N1"), no
//                                  flow control, DTR and RTS on, reads that
//                                  return at once.  0 when open, its handle
//                                  in serial_handles[index]; 1 after printing
//                                  the reason and, when the system refused,
//                                  its words for it and the likely remedy.
//   reopen_serial_port(index)      open and configure the port again with
//                                  the settings of the latest open, after
//                                  the live run closed a port that went
//                                  away; prints nothing, since it is tried
//                                  again and again.  0 when open, 1 if not,
//                                  with the system's error in
//                                  serial_open_error.
//   read_and_echo(index)           read what has arrived (at most 4095
//                                  bytes) and print it on the console.
//   serial_handles                 the handle of each port; the live run
//                                  writes its commands and does its
//                                  listening reads on it directly.
//   serial_config                  the settings text of the latest open.
#pragma once

#include <cstdint>

#include "platform/windows_api.h"
#include "serial/port_name.h"

inline constexpr uint32_t SERIAL_CONFIG_SIZE = 128;
inline constexpr uint32_t SERIAL_READ_SIZE = 4096;  // a read asks for one less

// Zero at process start.  An entry holds whatever the latest open of its
// index produced, INVALID_HANDLE_VALUE or a closed handle included; it is
// usable only after open_serial_port returned 0 for it.
extern HANDLE serial_handles[SERIAL_PORT_COUNT];
extern uint32_t serial_open_error;
extern char serial_config[SERIAL_CONFIG_SIZE];

int open_serial_port(uint32_t port_index, const char* serial_mode);
int reopen_serial_port(uint32_t port_index);
void read_and_echo(uint32_t port_index);
