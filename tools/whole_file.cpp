#include "tools/whole_file.h"

#include <cstdio>

bool read_whole_file(const char* name, std::string& data) {
    std::FILE* in = std::fopen(name, "rb");
    if (!in) return false;
    char chunk[65536];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, in)) > 0) data.append(chunk, got);
    std::fclose(in);
    return true;
}
