// The payload file's name for a capture-file run: "decompressed_" in front of
// the capture's file-name part, so the payload file lands beside the capture
// ("logs/cap.txt" -> "logs/decompressed_cap.txt").  Standard input ("-")
// gives "decompressed_stdin.txt", and a capture under /dev or /proc (a
// device, a process's descriptor), where nobody can write, gives its payload
// file in the current directory.
#pragma once

#include <cstddef>

inline constexpr char OUTPUT_PREFIX[] = "decompressed_";
inline constexpr size_t OUTPUT_NAME_SIZE = 256;  // room for 255 characters and a NUL

// Length of the directory part of `path`, separator included (0 for a plain
// file name).  On Windows both / and \ separate directories and a drive
// prefix such as "C:" stays in front.
size_t directory_part_length(const char* path);

// The directory part that the payload file's name keeps, and its file-name
// part after the prefix.
size_t kept_directory_length(const char* argument);
const char* output_base_name(const char* argument);

// Builds the name into `name` (OUTPUT_NAME_SIZE bytes).  Returns false, and
// leaves `name` empty, when the name would not fit; nothing is ever written
// past the buffer.
bool build_output_name(const char* argument, char (&name)[OUTPUT_NAME_SIZE]);
