#include "app/stream_buffers.h"

#if defined(_WIN32)
#include <io.h>
#define velk_isatty _isatty
#define velk_fileno _fileno
#else
#include <unistd.h>
#define velk_isatty isatty
#define velk_fileno fileno
#endif

namespace {

constexpr size_t STREAM_BUFFER_SIZE = 1 << 16;
char buffers[STREAM_ROLES][STREAM_BUFFER_SIZE];

}  // namespace

void use_static_buffer(std::FILE* stream, StreamRole role) {
    // A console that is a terminal keeps the platform's own buffering, so
    // text shows as it is printed.
    if (role == ConsoleStream && velk_isatty(velk_fileno(stream))) return;
    std::setvbuf(stream, buffers[role], _IOFBF, STREAM_BUFFER_SIZE);
}
