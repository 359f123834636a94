// velk_lzh --list: the serial ports present, one a line, each with its COMn
// name where the device prefix gives one.
//
// On Linux: each /dev/ttyS<n> the kernel reports as a port with hardware
// behind it (its sys/class/tty/ttyS<n>/type is not 0, the type of the
// placeholders the serial driver always makes), each /dev/ttyUSB<n> and
// /dev/ttyACM<n>, and each link in /dev/serial/by-id with the device it
// leads to.  On Windows: each COMn that exists.  One line says so when there
// is none.  Returns the exit status, 0.
#pragma once

int list_serial_ports();
