// A serial port that goes away in the middle of a live run (a USB adapter
// unplugged, reset or power-cycled) and comes back under the same name.
//
// Interface:
//   port_present(index)         false once the platform reports the port gone
//                               (ClearCommError fails: on POSIX a hang-up or
//                               a vanished device node).  Asked after a read
//                               that brought nothing, since a hung-up
//                               terminal reads nothing without failing.
//   lose_port(index)            print the lost line, abandon the message in
//                               progress and close the handle.
//   await_port(index)           try to open the port again about once a
//                               second, watching for a key between tries;
//                               the reason it cannot be opened is shown
//                               each time it changes, not at every try.
//                               True once it is open again (after the back
//                               line), false when a key or a stop signal
//                               ended the wait.
#pragma once

#include <cstdint>

bool port_present(uint32_t port_index);
void lose_port(uint32_t port_index);
bool await_port(uint32_t port_index);
