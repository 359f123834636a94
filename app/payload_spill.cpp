#include "app/payload_spill.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>

#include "platform/windows_api.h"
#else
#include <unistd.h>
#endif

#include "app/checked_output.h"
#include "app/stream_buffers.h"
#include "platform/failure_output.h"
#include "monitor/payload_ring.h"

namespace {

std::FILE* spill_file;
char spill_directory[4096];
char spill_name[4096 + 32];  // gone from the directory, but named in a read error

// Replay pieces stay far below the ring size, so the 25 bytes the framer
// looks back at are never overwritten while it needs them.
constexpr size_t REPLAY_PIECE = 65536;
static_assert(REPLAY_PIECE + 25 < PAYLOAD_RING_SIZE);
uint8_t replay_buffer[REPLAY_PIECE];

[[noreturn]] void spill_failed(const char* reason) {
    print_failure("Unable to write temporary file in %s (%s)\n", spill_directory, reason);
    std::exit(SPILL_FAILED_STATUS);
}

[[noreturn]] void spill_failed_errno() { spill_failed(errno != 0 ? std::strerror(errno) : "write error"); }

#if defined(_WIN32)
std::FILE* create_spill_file() {
    const DWORD length = GetTempPathA(sizeof spill_directory, spill_directory);
    if (length == 0 || length >= sizeof spill_directory) spill_failed("no temporary directory");
    char* const name = spill_name;
    static_assert(sizeof spill_name >= MAX_PATH);
    if (GetTempFileNameA(spill_directory, "vlk", 0, name) == 0) spill_failed("cannot create a file there");
    const HANDLE handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DeleteFileA(name);
        spill_failed("cannot create a file there");
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        spill_failed("cannot open the file");
    }
    return _fdopen(fd, "w+b");
}
#else
std::FILE* create_spill_file() {
    const char* directory = std::getenv("TMPDIR");
    if (!directory || !*directory) directory = "/tmp";
    std::snprintf(spill_directory, sizeof spill_directory, "%s", directory);
    char* const path = spill_name;
    std::snprintf(path, sizeof spill_name, "%s/velk_spill_XXXXXX", spill_directory);
    const int fd = mkstemp(path);
    if (fd < 0) spill_failed_errno();
    unlink(path);  // nameless from now on: gone when closed, however the run ends
    std::FILE* file = fdopen(fd, "w+b");
    if (!file) close(fd);
    return file;
}
#endif

void write_spill(const uint8_t* bytes, int32_t count) {
    const size_t length = static_cast<size_t>(count);
    errno = 0;
    if (std::fwrite(bytes, 1, length, spill_file) != length) spill_failed_errno();
}

}  // namespace

void spill_unread(PayloadRing& ring) {
    if (!spill_file) {
        errno = 0;
        spill_file = create_spill_file();
        if (!spill_file) spill_failed_errno();
        use_static_buffer(spill_file, SpillStream);
    }
    const int32_t read = ring.read_index;
    const int32_t write = ring.write_index;
    if (read <= write) {
        write_spill(ring.bytes + read, write - read);
    } else {
        write_spill(ring.bytes + read, PAYLOAD_RING_SIZE - read);
        write_spill(ring.bytes, write);
    }
    ring.read_index = write;
}

bool spill_active() { return spill_file != nullptr; }

void start_replay(PayloadRing& ring) {
    spill_unread(ring);
    if (!flush_checked(spill_file)) spill_failed_errno();
    errno = 0;
    if (std::fseek(spill_file, 0, SEEK_SET) != 0) spill_failed_errno();
    // Start over as if the ring were new: zero bytes behind the first one.
    std::memset(ring.bytes, 0, sizeof ring.bytes);
    ring.write_index = 0;
    ring.read_index = 0;
}

int32_t replay_piece(PayloadRing& ring) {
    errno = 0;
    const size_t got = std::fread(replay_buffer, 1, REPLAY_PIECE, spill_file);
    if (std::ferror(spill_file)) read_failed(spill_name);
    for (size_t i = 0; i < got; ++i) ring_append(ring, replay_buffer[i]);
    if (got == 0) close_checked(spill_file);
    return static_cast<int32_t>(got);
}
