#include "app/capture_run.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include "app/instances.h"
#include "app/output_name.h"
#include "app/payload_spill.h"
#include "app/stream_buffers.h"
#include "monitor/payload_drain.h"

namespace {

constexpr size_t READ_CHUNK = 4096;
uint8_t read_buffer[READ_CHUNK];
char output_name[OUTPUT_NAME_SIZE];

// A directory opens for reading on POSIX but holds no capture; it is refused
// like a file that cannot be opened, rather than read as an empty capture.
bool is_directory(std::FILE* file) {
#if defined(_WIN32)
    (void)file;
    return false;
#else
    struct stat info {};
    return fstat(fileno(file), &info) == 0 && S_ISDIR(info.st_mode);
#endif
}

// Every byte of the capture, in order, goes to the parser.  A short read is
// the end of the capture, whether it came from the end of the file or from a
// read error.  Standard output is flushed after each read so text payloads
// show while the capture is being read.
void parse_capture() {
    for (;;) {
        const size_t got = std::fread(read_buffer, 1, READ_CHUNK, capture_file);
        feed_chars(monitor_parser, payload_ring, payload_file, read_buffer, static_cast<int32_t>(got));
        std::fflush(stdout);
        if (got < READ_CHUNK) return;
        spill_if_needed(payload_ring, static_cast<int32_t>(READ_CHUNK));
    }
}

}  // namespace

int capture_file_run(const char* argument) {
    // Binary mode: every byte value is capture data on every platform.
    capture_file = std::fopen(argument, "rb");
    if (capture_file && is_directory(capture_file)) {
        std::fclose(capture_file);
        capture_file = nullptr;
    }
    if (!capture_file) {
        std::printf("Unable to open file: %s\n", argument);
        std::exit(-1);
    }
    use_static_buffer(capture_file, CaptureStream);

    if (build_output_name(argument, output_name)) payload_file = std::fopen(output_name, "wb");
    if (!payload_file) {
        std::fclose(capture_file);
        capture_file = nullptr;
        // The name is printed whole even when it is too long to build.
        const size_t directory = directory_part_length(argument);
        std::printf("Unable to open file : %.*s%s%s\n", static_cast<int>(directory), argument, OUTPUT_PREFIX,
                    argument + directory);
        std::exit(-3);
    }
    use_static_buffer(payload_file, PayloadStream);

    parse_capture();

    restart(message_framer);
    if (spill_active()) {
        replay_spilled(payload_ring, message_framer, lzhuf_decoder, payload_file);
    } else {
        drain_single_ring();
    }

    std::fclose(capture_file);
    capture_file = nullptr;
    std::fclose(payload_file);
    payload_file = nullptr;
    if (original_data_file) {
        std::fclose(original_data_file);
        original_data_file = nullptr;
    }
    return 0;
}
