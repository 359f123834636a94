// Preloaded into velk_lzh by the tests to make a read fail as a failing disk
// or a vanished network share does: VELK_FAIL_READ="FD:AFTER" makes the
// stream on descriptor FD report a read error (EIO) once AFTER bytes have
// been read from it in all, across rewinds.  Every other read is the C
// library's own.
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>

namespace {

int failing_fd = -1;
long long fail_after = 0;
long long read_so_far = 0;

// Runs as the library is loaded, before the program reads anything.
__attribute__((constructor)) void read_settings() {
    if (const char* setting = getenv("VELK_FAIL_READ")) sscanf(setting, "%d:%lld", &failing_fd, &fail_after);
}

}  // namespace

extern "C" size_t fread(void* buffer, size_t size, size_t count, FILE* stream) {
    static const auto next = reinterpret_cast<size_t (*)(void*, size_t, size_t, FILE*)>(dlsym(RTLD_NEXT, "fread"));
    if (fileno(stream) != failing_fd || size != 1) return next(buffer, size, count, stream);
    const long long room = fail_after - read_so_far;
    const size_t want = room <= 0 ? 0 : static_cast<size_t>(room) < count ? static_cast<size_t>(room) : count;
    const size_t got = want > 0 ? next(buffer, 1, want, stream) : 0;
    read_so_far += static_cast<long long>(got);
    if (got == want && want < count) {
        // What a failed read(2) leaves behind: the error indicator and errno.
        stream->_flags |= _IO_ERR_SEEN;
        errno = EIO;
    }
    return got;
}
