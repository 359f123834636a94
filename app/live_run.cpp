#include "app/live_run.h"

#include <initializer_list>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "app/checked_output.h"
#include "app/full_path.h"
#include "app/utc_time.h"
#include "app/instances.h"
#include "app/silence_watchdog.h"
#include "app/port_recovery.h"
#include "app/stream_buffers.h"
#include "platform/console_keys.h"
#include "platform/failure_output.h"
#include "platform/windows_api.h"
#include "serial/serial_port.h"

namespace {

constexpr char SERIAL_MODE[] = "8N1";
constexpr char PAYLOAD_FILE_NAME[] = "velk_payload_data.txt";
constexpr char ORIGINAL_DATA_FILE_NAME[] = "velk_original_data.txt";
constexpr DWORD LISTEN_READ_SIZE = 4095;

char command_buffer[256];
uint8_t receive_buffer[4096];
DWORD byte_count;
SilenceWatchdog silence_watchdog;
// Bytes read since the modem was last started (the first start includes the
// read before any command): none at all means no modem is answering.
uint64_t start_heard;
// Both files are written to the end even after a failure, which is reported
// once; the run then ends with the status of the file that failed.
WatchedFile payload_output{nullptr, PAYLOAD_FILE_NAME, -3, false};
WatchedFile original_output{nullptr, ORIGINAL_DATA_FILE_NAME, -4, false};

// The decimal number at the start of `text`, as atoi reads it, but with
// values beyond int clamped instead of overflowing: "COM99999999999" is
// simply an illegal port.
int read_number(const char* text) {
    const long value = std::strtol(text, nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

// False when the write failed: the port has gone.
bool write_command(uint32_t port_index, DWORD length) {
    return WriteFile(serial_handles[port_index], command_buffer, length, &byte_count, nullptr) != FALSE;
}

// Every way out of the live run after the port is open: a transfer under way
// gets its check line, monitor mode is switched off, then the process ends
// (which flushes and closes what is still open).  While the port is lost
// there is nothing to switch off.
[[noreturn]] void shut_down(uint32_t port_index) {
    abandon_transfer(message_framer, lzhuf_decoder, program_output, RunStopped);
    print_message_count(run_streams);
    std::printf("\r\nVELK OFF");
    if (serial_handles[port_index] != INVALID_HANDLE_VALUE) {
        std::strcpy(command_buffer, "velk Stop\r");
        write_command(port_index, 10);
        Sleep(100);
    }
    flush_watched(payload_output);
    flush_watched(original_output);
    std::printf("\r\n\r\nTHANK YOU FOR USING VELK_lzh!\r\n");
    close_watched(payload_output);
    close_watched(original_output);
    message_files_close(run_streams.files);
    payload_file = nullptr;
    original_data_file = nullptr;
    std::exit(payload_output.failed    ? payload_output.status
              : original_output.failed ? original_output.status
              : run_streams.files.failed ? MESSAGE_FILES_FAILED_STATUS
                                         : 0);
}

// Once at the start: when the run began, on which port, and where what it
// hears is kept.  The original-data file gets none of this: it stays the
// bytes from the port, a capture that decodes again.
void say_time_and_place(uint32_t port_index, const char* messages_dir) {
    char when[UTC_TEXT_SIZE];
    format_utc_iso(std::time(nullptr), when);
    char line[FULL_PATH_SIZE + 64];
    std::snprintf(line, sizeof line, "### RUN STARTED %s ON %s\r\n", when, serial_port_label(port_index));
    run_line(run_streams, line, true);
    char path[FULL_PATH_SIZE];
    std::snprintf(line, sizeof line, "### PAYLOAD FILE: %s\r\n", full_path(PAYLOAD_FILE_NAME, path));
    run_line(run_streams, line, false);
    std::snprintf(line, sizeof line, "### ORIGINAL DATA FILE: %s\r\n", full_path(ORIGINAL_DATA_FILE_NAME, path));
    run_line(run_streams, line, false);
    if (messages_dir) {
        std::snprintf(line, sizeof line, "### MESSAGE FILES: %s\r\n", full_path(messages_dir, path));
        run_line(run_streams, line, false);
    }
}

[[noreturn]] void fail(const char* message, int status) {
    print_failure("%s", message);
    std::exit(status);
}

// Whether a read's bytes are also shown raw: the modem's replies to the
// commands before "velk Start" are, so the user sees what it answers.
enum ReadEcho { Echoed, NotEchoed };

// One read of what has arrived: logged raw, and parsed with each payload
// byte drained through the framer and decoder before the next character, so
// messages decode while they arrive and in the order they came.  A modem
// that was monitoring already sends its text during the commands too, so
// every read from the separator on counts.  False when the port has gone.
bool take_arrived(uint32_t port_index, ReadEcho echo) {
    byte_count = 0;
    const BOOL read_ok = ReadFile(serial_handles[port_index], receive_buffer, LISTEN_READ_SIZE, &byte_count, nullptr);
    if (byte_count > LISTEN_READ_SIZE) byte_count = 0;
    if (byte_count > 0) {
        if (echo == Echoed) console_air(run_streams.console, receive_buffer, byte_count, MessageText);
        start_heard += byte_count;
        if (original_data_file) std::fwrite(receive_buffer, 1, byte_count, original_data_file);
        if (feed_single_in_arrival_order(receive_buffer, static_cast<int32_t>(byte_count)) > 0) watchdog_heard(silence_watchdog);
        // A recording survives a crash or a pulled plug up to the last pass.
        flush_watched(original_output);
        flush_watched(payload_output);
    }
    std::fflush(stdout);
    if (!read_ok) return false;
    return byte_count > 0 || port_present(port_index);
}

// After each group of commands: take what has arrived, then give the user
// the chance to stop.  False when the port has gone.
bool settle(uint32_t port_index, ReadEcho echo) {
    Sleep(100);
    if (!take_arrived(port_index, echo)) return false;
    Sleep(100);
    if (_kbhit()) shut_down(port_index);
    return true;
}

// Switches the modem into monitor mode, at the start and again when a lost
// port is back.  False when the port went away on the way.  `heard` counts
// what the start's settle steps have read so far.
bool start_modem(uint32_t port_index, int monitor_mode) {
    std::snprintf(command_buffer, sizeof command_buffer, "\rvelk mode %d\r", monitor_mode);
    if (!write_command(port_index, 13) || !settle(port_index, Echoed)) return false;

    for (const char* command : {"velk V 1\r", "velk H 1\r", "velk P 0\r"}) {
        std::strcpy(command_buffer, command);
        if (!write_command(port_index, 9)) return false;
    }
    if (!settle(port_index, Echoed)) return false;

    // From "velk Start" on the modem's monitor text may begin at once: it is
    // listening data, parsed but not shown raw, and the line that says so
    // comes before it, never inside a message.
    std::strcpy(command_buffer, "velk Start\r");
    if (!write_command(port_index, 11)) return false;
    run_line(run_streams, "\r\n\r\n### LISTENING TO VELK...\r\n\r\n", false);
    std::fflush(stdout);
    if (!settle(port_index, NotEchoed)) return false;

    if (start_heard == 0) {
        char line[MESSAGE_PATH_SIZE];
        std::snprintf(line, sizeof line, "\r\n### NO REPLY FROM THE MODEM ON %s: IS IT CONNECTED AND SWITCHED ON?\r\n",
                      serial_port_label(port_index));
        run_line(run_streams, line, false);
    }
    std::fflush(stdout);
    Sleep(100);
    if (_kbhit()) shut_down(port_index);
    return true;
}

// One listening pass and its silence watchdog.  False when the port has gone.
bool listening_pass(uint32_t port_index) {
    if (!take_arrived(port_index, NotEchoed)) return false;

    Sleep(100);
    // An announced message whose transfer has not begun is simply awaited;
    // only a transfer whose bytes stop coming is given up.
    if (watchdog_pass(silence_watchdog, transfer_under_way(message_framer))) {
        abandon_transfer(message_framer, lzhuf_decoder, program_output, SilenceTimeout);
        flush_watched(payload_output);
        std::fflush(stdout);
    }
    Sleep(100);
    return true;
}

// Listens until a key ends the run, or until the port goes away.
void listen(uint32_t port_index) {
    for (;;) {
        if (!listening_pass(port_index)) return;
        if (_kbhit()) shut_down(port_index);
    }
}

}  // namespace

void live_run(const char* argument_copy, int argc, char** argv, const char* messages_dir) {
    console_keys_setup();
    console_start(run_streams.console);
    run_streams.live = true;

    // Any other argument that reaches the live run is a device path, given
    // unchanged.
    const bool by_path = std::strncmp(argument_copy, "COM", 3) != 0;
    const int port_number = by_path ? 0 : read_number(argument_copy + 3);
    const uint32_t port_index = by_path ? choose_port_path(argument_copy) : com_port_index(port_number);
    if (by_path) {
        std::printf("\r\nTrying to open port %s...\r\n", argument_copy);
    } else {
        std::printf("\r\nTrying to open COM port %d...\r\n", port_number);
    }
    if (open_serial_port(port_index, SERIAL_MODE) != 0) fail("Can not open comport\n", -5);

    // Binary append: every byte is stored as it was received or decoded, so
    // the original-data file can be replayed as a capture on any platform.
    payload_file = std::fopen(PAYLOAD_FILE_NAME, "ab");
    if (!payload_file) fail("Unable to open file : velk_payload_data.txt\n", -3);
    use_static_buffer(payload_file, PayloadStream);
    run_streams.payload_file = payload_file;
    original_data_file = std::fopen(ORIGINAL_DATA_FILE_NAME, "ab");
    if (!original_data_file) fail("Unable to open file : velk_original_data.txt\n", -4);
    use_static_buffer(original_data_file, OriginalDataStream);

    const char* const separator =
        "\r\n\r\n=========================================================================================="
        "\r\n\r\n";
    std::fprintf(payload_file, "%s", separator);
    std::fprintf(original_data_file, "%s", separator);
    payload_output.stream = payload_file;
    original_output.stream = original_data_file;
    if (messages_dir) message_files_open(run_streams.files, messages_dir, serial_port_label(port_index), true);
    say_time_and_place(port_index, messages_dir);
    flush_watched(payload_output);
    flush_watched(original_output);

    std::printf("\r\nNOW FETCHING DATA FROM MODEM, press any key to abort\r\n");
    std::printf("====================================================\r\n\r\n");
    // The first read takes whatever the modem had pending before any command.
    bool port_up = settle(port_index, Echoed);

    int monitor_mode = 3;
    if (argc > 2 && argv[2] != nullptr) {
        const int requested = read_number(argv[2]);
        if (requested == 3 || requested == 4) monitor_mode = requested;
    }

    // A port that goes away is waited for, and the modem started again on
    // its return; both files stay open and go on appending.
    for (;;) {
        if (port_up && start_modem(port_index, monitor_mode)) listen(port_index);
        lose_port(port_index);
        flush_watched(payload_output);
        if (!await_port(port_index)) shut_down(port_index);
        port_up = true;
        start_heard = 0;
    }
}
