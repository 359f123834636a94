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

bool build_output_name(const char* argument, char (&name)[OUTPUT_NAME_SIZE]) {
    const size_t total = std::strlen(argument);
    const size_t prefix = sizeof OUTPUT_PREFIX - 1;
    name[0] = '\0';
    if (total + prefix >= OUTPUT_NAME_SIZE) return false;
    const size_t directory = directory_part_length(argument);
    std::memcpy(name, argument, directory);
    std::memcpy(name + directory, OUTPUT_PREFIX, prefix);
    std::memcpy(name + directory + prefix, argument + directory, total - directory + 1);
    return true;
}
