// The capture a capture-file run reads: the file the argument names, opened
// in binary mode, or standard input when the argument is "-".
#pragma once

#include <cstdio>

std::FILE* open_capture(const char* argument);
