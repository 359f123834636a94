// read_whole_file: a file's bytes appended to `data`, for the tools that take
// a whole file at once.  False when it cannot be opened.
#pragma once

#include <string>

bool read_whole_file(const char* name, std::string& data);
