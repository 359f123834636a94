#include "app/capture_input.h"

#include <cstring>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

std::FILE* open_capture(const char* argument) {
    if (std::strcmp(argument, "-") != 0) return std::fopen(argument, "rb");
#if defined(_WIN32)
    // Every byte value is capture data: no CR LF translation, no end at ^Z.
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    return stdin;
}
