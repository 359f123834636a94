// How the SetCommState stand-in turns a DCB into terminal settings; apart
// so the mapping can be checked without a serial device (pseudo-terminals
// keep neither the data bits nor the parity they are given).
//
// dcb_to_termios(dcb, tio)  raw line at the DCB's speed, data bits, parity
//                           and stop bits, receiver on, modem status lines
//                           ignored, flow control as the DCB says, reads
//                           waiting for one byte; false for settings that
//                           have no terminal equivalent.
#pragma once

#include <termios.h>

#include "platform/windows_api.h"

bool dcb_to_termios(const DCB& dcb, termios& tio);
