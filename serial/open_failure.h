// Why a port cannot be opened or configured, in words a user can act on.
//
// Interface:
//   last_system_error()            the error code of the system call that
//                                  just failed (errno; Windows' last error).
//   port_reason(index, code)       "COM3 (/dev/ttyS2): Permission denied", or
//                                  "/dev/ttyUSB0: ..." for a port given by
//                                  its path; Windows' own message for the
//                                  code there.  Valid until the next call.
//   explain_open_failure(index, code)
//                                  that reason and, for a missing device, a
//                                  device without permission and a busy
//                                  port, the likely remedy: two lines on
//                                  standard error.
#pragma once

#include <cstdint>

uint32_t last_system_error();
const char* port_reason(uint32_t port_index, uint32_t code);
void explain_open_failure(uint32_t port_index, uint32_t code);
