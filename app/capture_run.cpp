#include "app/capture_run.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>

#include "app/capture_input.h"
#include "app/checked_output.h"
#include "app/instances.h"
#include "app/output_name.h"
#include "app/payload_spill.h"
#include "app/stream_buffers.h"
#include "monitor/payload_drain.h"
#include "platform/failure_output.h"

namespace {

constexpr size_t READ_CHUNK = 4096;
// The quiet second pass shows nothing while it reads, so it reads in larger
// pieces: fewer drains, and fewer block runs cut at a piece's end.  A piece
// yields at most as many payload bytes as it has characters, which the
// emptied ring holds.
constexpr size_t REPLAY_CHUNK = 1 << 16;
static_assert(REPLAY_CHUNK < PAYLOAD_RING_SIZE - HEADER_LOOK_BACK);
uint8_t read_buffer[REPLAY_CHUNK];
char output_name[OUTPUT_NAME_SIZE];

// Parses a regular capture again for the decoding pass, collecting payload
// bytes without showing anything.  A parser of its own starts from the same
// zero state as the first one did; that one ends wherever the capture left it.
MonitorParser replay_parser;
bool reread_needed;      // the payload outgrew the ring and the capture can be read again
uint64_t capture_length;  // bytes read in the first pass: the second reads no more

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

// Only a regular file is sure to give the same bytes when read again.
bool is_regular_file(std::FILE* file) {
    struct stat info {};
    return fstat(fileno(file), &info) == 0 && (info.st_mode & S_IFMT) == S_IFREG;
}

// The payload file is incomplete: say so and stop at once rather than go on
// decoding into a file that no longer keeps what it is given.  It is looked
// at right after each piece of writing, so errno still holds the reason.
[[noreturn]] void payload_write_failed() {
    print_write_failure(output_name, true);
    std::exit(-3);
}

// A read that came back short: the end of the capture, or a failure, which
// must not pass for the end.
void check_capture_read(const char* argument) {
    if (std::ferror(capture_file)) read_failed(argument);
}

void check_payload_file() {
    if (std::ferror(payload_file)) payload_write_failed();
}

int32_t free_places(const PayloadRing& ring) {
    return PAYLOAD_RING_SIZE - 1 - (ring.write_index - ring.read_index + PAYLOAD_RING_SIZE) % PAYLOAD_RING_SIZE;
}

// Every byte of the capture, in order, goes to the parser.  A short read is
// the end of the capture, unless it was a read error.  Standard output is flushed after each read so text payloads
// show while the capture is being read.  No chunk yields more payload bytes
// than it has characters, so the ring never overflows within one.
void parse_capture(const char* argument, bool rereadable) {
    for (;;) {
        errno = 0;
        const size_t got = std::fread(read_buffer, 1, READ_CHUNK, capture_file);
        if (got < READ_CHUNK) check_capture_read(argument);
        capture_length += got;
        feed_chars(monitor_parser, payload_ring, program_output, read_buffer, static_cast<int32_t>(got));
        std::fflush(stdout);
        check_payload_file();
        if (got < READ_CHUNK) return;
        if (free_places(payload_ring) >= static_cast<int32_t>(READ_CHUNK)) continue;
        if (rereadable) {
            // These bytes come back in the second pass, and so will all the
            // others: from now on the first pass only shows the text.
            payload_ring.read_index = payload_ring.write_index;
            reread_needed = true;
            monitor_parser.drops_payload = true;
        } else {
            spill_unread(payload_ring);
        }
    }
}

void empty_ring(PayloadRing& ring) {
    std::memset(ring.bytes, 0, sizeof ring.bytes);
    ring.write_index = 0;
    ring.read_index = 0;
}

// The decoding pass over the capture read a second time: each chunk's payload
// bytes are drained before the next chunk is parsed, as if the ring never
// filled up.
void decode_rereading(const char* argument) {
    empty_ring(payload_ring);
    std::rewind(capture_file);
    for (uint64_t left = capture_length; left > 0;) {
        const size_t want = left < REPLAY_CHUNK ? static_cast<size_t>(left) : REPLAY_CHUNK;
        errno = 0;
        const size_t got = std::fread(read_buffer, 1, want, capture_file);
        if (got < want) check_capture_read(argument);
        if (got == 0) break;
        left -= got;
        feed_chars(replay_parser, payload_ring, silent_output(), read_buffer, static_cast<int32_t>(got));
        drain_single_ring();
        check_payload_file();
    }
}

// The ring holds the whole payload stream, unwrapped from its start.  It is
// drained a piece at a time, as the live run drains what each read brings,
// so that a payload file that fails stops the decoding within a piece.
void decode_in_memory() {
    const int32_t end = payload_ring.write_index;
    for (int32_t to = payload_ring.read_index; to != end;) {
        to = end - to > static_cast<int32_t>(READ_CHUNK) ? to + static_cast<int32_t>(READ_CHUNK) : end;
        payload_ring.write_index = to;
        drain_single_ring();
        check_payload_file();
    }
}

void decode_spilled() {
    start_replay(payload_ring);
    while (replay_piece(payload_ring) > 0) {
        drain_single_ring();
        check_payload_file();
    }
}

}  // namespace

int capture_file_run(const char* argument, const char* messages_dir) {
    console_start(run_streams.console);
#if !defined(_WIN32)
    // A console that goes away (a pager quit, `| head`) must not end the run:
    // the payload file is still written whole.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    // Binary mode: every byte value is capture data on every platform.
    capture_file = open_capture(argument);
    if (capture_file && is_directory(capture_file)) {
        std::fclose(capture_file);
        capture_file = nullptr;
    }
    if (!capture_file) {
        print_failure("Unable to open file: %s\n", argument);
        std::exit(-1);
    }
    use_static_buffer(capture_file, CaptureStream);

    if (build_output_name(argument, output_name)) payload_file = std::fopen(output_name, "wb");
    if (!payload_file) {
        std::fclose(capture_file);
        capture_file = nullptr;
        // The name is printed whole even when it is too long to build.
        const size_t directory = kept_directory_length(argument);
        print_failure("Unable to open file : %.*s%s%s\n", static_cast<int>(directory), argument, OUTPUT_PREFIX,
                      output_base_name(argument));
        std::exit(-3);
    }
    use_static_buffer(payload_file, PayloadStream);
    run_streams.payload_file = payload_file;
    // A message file that fails ends the run, as the payload file does.
    if (messages_dir) message_files_open(run_streams.files, messages_dir, output_base_name(argument), false);

    parse_capture(argument, is_regular_file(capture_file));
    // The text payloads are all there is until decoding starts: a file that
    // cannot take them is reported before any message is announced.
    if (!flush_checked(payload_file)) payload_write_failed();

    restart(message_framer);
    if (reread_needed) {
        decode_rereading(argument);
    } else if (spill_active()) {
        decode_spilled();
    } else {
        decode_in_memory();
    }
    // No byte follows: a transfer still under way has ended here.
    abandon_transfer(message_framer, lzhuf_decoder, program_output, EndOfCapture);
    print_message_count(run_streams);
    check_payload_file();
    message_files_close(run_streams.files);

    std::fclose(capture_file);
    capture_file = nullptr;
    if (!close_checked(payload_file)) payload_write_failed();
    return 0;
}
