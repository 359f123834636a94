#include "app/output_name.h"

#include <cstring>

size_t directory_part_length(const char* path) {
    size_t length = 0;
    for (size_t i = 0; path[i] != '\0'; ++i) {
#if defined(_WIN32)
        const bool separator = path[i] == '/' || path[i] == '\\' || (i == 1 && path[i] == ':');
#else
        const bool separator = path[i] == '/';
#endif
        if (separator) length = i + 1;
    }
    return length;
}

size_t kept_directory_length(const char* argument) {
#if !defined(_WIN32)
    if (std::strncmp(argument, "/dev/", 5) == 0 || std::strncmp(argument, "/proc/", 6) == 0) return 0;
#endif
    return directory_part_length(argument);
}

const char* output_base_name(const char* argument) {
    if (std::strcmp(argument, "-") == 0) return "stdin.txt";
    return argument + directory_part_length(argument);
}

bool build_output_name(const char* argument, char (&name)[OUTPUT_NAME_SIZE]) {
    const size_t directory = kept_directory_length(argument);
    const char* const base = output_base_name(argument);
    const size_t base_length = std::strlen(base);
    const size_t prefix = sizeof OUTPUT_PREFIX - 1;
    name[0] = '\0';
    if (directory + prefix + base_length >= OUTPUT_NAME_SIZE) return false;
    std::memcpy(name, argument, directory);
    std::memcpy(name + directory, OUTPUT_PREFIX, prefix);
    std::memcpy(name + directory + prefix, base, base_length + 1);
    return true;
}
