// make_capture: builds a monitor capture, as the modem prints it, that
// carries the given plain text files as compressed-message transfers.
//
//   make_capture [options] -o OUT FILE...
//
// Options for the whole capture (anywhere on the line):
//   -o OUT              capture to write; "-" writes to standard output
//   --seed N            seed for report sizes, noise and texts (default 1)
//   --report-size A:B   payload bytes per binary report (default 16:128)
//   --noise N           at most N noise lines between messages (default 2)
//   --text-reports N    at most N text reports between messages (default 2)
//   --no-reply          no text report between a header line and its message
//   --header-as-text    send the "FC EM" lines as text reports
// Options for the next FILE only:
//   --id TEXT           identifier (default: 12 random letters and digits)
//   --title TEXT        title (default: the file's name)
//   --length TEXT       length field of the header (default: the file's size)
//   --block N           data bytes per block, 1..256 (default 250)
//   --no-eot            leave out EOT and the checksum
//   --no-header         send the transfer without its "FC EM" line
//   --cut N             send only the first N bytes of the transfer
//   --bad-type K        block K (from 0) gets the type byte 0x03 instead of STX
//   --lose-block K      block K (from 0) is lost on the way
//   --flip N            byte N of the compressed message has a bit flipped
//   --stream-length N   the compressed stream's own length field says N
//   --group N           this FILE and the N - 1 after it are announced
//                       together, their transfers following one another
// A message whose --cut ends it inside its blocks is cut short by whatever
// comes next: with another file after it, by the next announcement.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/capture_builder.h"
#include "tools/whole_file.h"

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: make_capture [options] -o OUT FILE...\n"
                 "  capture: --seed N  --report-size A:B  --noise N  --text-reports N\n"
                 "           --no-reply  --header-as-text\n"
                 "  next FILE only: --id TEXT  --title TEXT  --length TEXT  --block N\n"
                 "           --no-eot  --no-header  --cut N  --bad-type K  --lose-block K  --flip N\n"
                 "           --stream-length N  --group N\n");
    return 2;
}

bool parse_number(const char* text, long long low, long long high, long long& value) {
    char* end = nullptr;
    value = std::strtoll(text, &end, 10);
    return end != text && *end == '\0' && value >= low && value <= high;
}

std::string base_name(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

int main(int argc, char** argv) {
    CaptureOptions options;
    std::vector<TransferMessage> messages;
    TransferMessage next;
    bool title_given = false;
    long long group_left = 0;  // files still to join the group being announced
    const char* out_name = nullptr;

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        long long n = 0;
        if (arg.rfind("--", 0) != 0 && arg != "-o") {
            TransferMessage m = next;
            if (!read_whole_file(argv[i], m.text)) {
                std::fprintf(stderr, "make_capture: cannot read %s\n", argv[i]);
                return 1;
            }
            if (!title_given) m.title = base_name(arg);
            m.group_with_next = group_left > 1;
            if (group_left > 0) --group_left;
            messages.push_back(m);
            next = TransferMessage{};
            title_given = false;
        } else if (arg == "--no-reply") {
            options.reply_report = false;
        } else if (arg == "--header-as-text") {
            options.header_as_text = true;
        } else if (arg == "--no-eot") {
            next.eot = false;
        } else if (arg == "--no-header") {
            next.announced = false;
        } else if (!has_value) {
            return usage();
        } else if (arg == "-o") {
            out_name = argv[++i];
        } else if (arg == "--seed" && parse_number(argv[i + 1], 0, LLONG_MAX, n)) {
            options.seed = static_cast<uint64_t>(n);
            ++i;
        } else if (arg == "--report-size") {
            const std::string range = argv[++i];
            const size_t colon = range.find(':');
            long long low = 0;
            long long high = 0;
            if (colon == std::string::npos || !parse_number(range.substr(0, colon).c_str(), 1, 100000, low) ||
                !parse_number(range.substr(colon + 1).c_str(), low, 100000, high)) {
                return usage();
            }
            options.min_report = static_cast<int32_t>(low);
            options.max_report = static_cast<int32_t>(high);
        } else if (arg == "--noise" && parse_number(argv[i + 1], 0, 1000, n)) {
            options.max_noise_lines = static_cast<int32_t>(n);
            ++i;
        } else if (arg == "--text-reports" && parse_number(argv[i + 1], 0, 1000, n)) {
            options.max_text_reports = static_cast<int32_t>(n);
            ++i;
        } else if (arg == "--id") {
            next.identifier = argv[++i];
        } else if (arg == "--title") {
            next.title = argv[++i];
            title_given = true;
        } else if (arg == "--length") {
            next.length_field = argv[++i];
        } else if (arg == "--block" && parse_number(argv[i + 1], 1, 256, n)) {
            next.block_size = static_cast<int32_t>(n);
            ++i;
        } else if (arg == "--cut" && parse_number(argv[i + 1], 0, LLONG_MAX, n)) {
            next.cut_at = n;
            ++i;
        } else if (arg == "--bad-type" && parse_number(argv[i + 1], 0, INT32_MAX, n)) {
            next.bad_type_block = static_cast<int32_t>(n);
            ++i;
        } else if (arg == "--lose-block" && parse_number(argv[i + 1], 0, INT32_MAX, n)) {
            next.lost_block = static_cast<int32_t>(n);
            ++i;
        } else if (arg == "--flip" && parse_number(argv[i + 1], 0, LLONG_MAX, n)) {
            next.flip_at = n;
            ++i;
        } else if (arg == "--stream-length" && parse_number(argv[i + 1], 0, UINT32_MAX, n)) {
            next.stream_length = n;
            ++i;
        } else if (arg == "--group" && parse_number(argv[i + 1], 2, 1000, n)) {
            group_left = n;
            ++i;
        } else {
            return usage();
        }
    }
    if (!out_name || messages.empty()) return usage();

    const CaptureBuilder capture = build_capture(messages, options);
    const bool to_stdout = std::strcmp(out_name, "-") == 0;
    std::FILE* out = to_stdout ? stdout : std::fopen(out_name, "wb");
    if (!out) {
        std::fprintf(stderr, "make_capture: cannot write %s\n", out_name);
        return 1;
    }
    const bool written = std::fwrite(capture.text.data(), 1, capture.text.size(), out) == capture.text.size();
    const bool closed = to_stdout ? std::fflush(out) == 0 : std::fclose(out) == 0;
    if (!written || !closed) {
        std::fprintf(stderr, "make_capture: error writing %s\n", out_name);
        return 1;
    }
    return 0;
}
