// The three standard descriptors, made safe to rely on.
//
// A program started with one of them closed (`velk_lzh COM3 >&-`) would hand
// that number to the next file it opens: the serial port would become
// standard output and receive the console's text, or the payload file would
// start with it.  So before anything is opened, each closed one is opened on
// the null device.  Windows hands out no such numbers: nothing to do there.
#pragma once

void open_closed_standard_descriptors();
