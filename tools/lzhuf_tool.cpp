// lzhuf_tool: pack a file into a compressed message, or unpack one with the
// byte-fed decoder exactly as the monitor path drives it.
//
//   lzhuf_tool pack IN OUT      compress IN into the message format
//   lzhuf_tool unpack IN OUT    feed IN's bytes to the decoder (in block
//                               runs, which give what one per call gives);
//                               OUT receives what the decoder writes to its
//                               stream.  The decoder's console copy is
//                               discarded unless --show is given.
//   lzhuf_tool check IN         decode IN whole as the program does (fed,
//                               then finished to the stream's own length)
//                               and print its check line; exit 0 when it is
//                               OK, 1 when it is DAMAGED.
//
// unpack does not drain the decoder at the end, so it shows exactly what the
// byte-fed path gives: the last few characters of a message are held back.
#include <cstdio>
#include <cstring>
#include <vector>

#if defined(_WIN32)
#include <io.h>
#define dup _dup
#define dup2 _dup2
#define close _close
#else
#include <unistd.h>
#endif

#include "lzhuf/lzhuf_decoder.h"
#include "tools/lzhuf_encoder.h"

namespace {

LzhufDecoder decoder;  // large: keep it out of the stack
uint8_t chunk[1 << 16];

// Every byte, in runs as block data is handed over: the same counts and
// text as one per call.  A run stops after the byte that completes the
// stream, and the next one takes the rest.
void feed_all(const uint8_t* bytes, size_t count, std::FILE* out) {
    for (size_t at = 0; at < count;) {
        const size_t run = count - at < 256 ? count - at : 256;
        int32_t used = 0;
        feed_bytes(decoder, bytes + at, static_cast<int32_t>(run), out, used);
        at += static_cast<size_t>(used);
    }
}

int usage() {
    std::printf("usage: lzhuf_tool pack IN OUT\n"
                "       lzhuf_tool unpack [--show] IN OUT\n"
                "       lzhuf_tool check IN\n");
    return 2;
}

#if defined(_WIN32)
const char* const NULL_DEVICE = "NUL";
#else
const char* const NULL_DEVICE = "/dev/null";
#endif

bool read_file(const char* name, std::vector<uint8_t>& data) {
    std::FILE* in = std::fopen(name, "rb");
    if (!in) return false;
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, in)) > 0) data.insert(data.end(), chunk, chunk + got);
    std::fclose(in);
    return true;
}

int pack(const char* in_name, const char* out_name) {
    std::vector<uint8_t> data;
    if (!read_file(in_name, data)) {
        std::printf("lzhuf_tool: cannot read %s\n", in_name);
        return 1;
    }
    const std::vector<uint8_t> message = lzhuf_compress(data.data(), data.size());
    std::FILE* out = std::fopen(out_name, "wb");
    if (!out) {
        std::printf("lzhuf_tool: cannot create %s\n", out_name);
        return 1;
    }
    const bool ok = std::fwrite(message.data(), 1, message.size(), out) == message.size();
    return (std::fclose(out) == 0 && ok) ? 0 : 1;
}

int unpack(const char* in_name, const char* out_name, bool show) {
    std::FILE* in = std::fopen(in_name, "rb");
    if (!in) {
        std::printf("lzhuf_tool: cannot read %s\n", in_name);
        return 1;
    }
    std::FILE* out = std::fopen(out_name, "wb");
    if (!out) {
        std::fclose(in);
        std::printf("lzhuf_tool: cannot create %s\n", out_name);
        return 1;
    }
    if (!show && !std::freopen(NULL_DEVICE, "w", stdout)) {
        std::fclose(in);
        std::fclose(out);
        return 1;
    }
    restart(decoder);
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, in)) > 0) {
        feed_all(chunk, got, out);
    }
    std::fclose(in);
    return std::fclose(out) == 0 ? 0 : 1;
}

int check(const char* in_name) {
    std::vector<uint8_t> data;
    if (!read_file(in_name, data)) {
        std::printf("lzhuf_tool: cannot read %s\n", in_name);
        return 2;
    }
    // The decoded text itself is not wanted here, only its count: both the
    // decoder's stream and its console copy go to the null device while it
    // runs, and standard output comes back for the verdict.
    std::FILE* sink = std::fopen(NULL_DEVICE, "wb");
    if (!sink) return 2;
    std::fflush(stdout);
    const int console = dup(fileno(stdout));
    if (console < 0 || dup2(fileno(sink), fileno(stdout)) < 0) return 2;
    restart(decoder);
    feed_all(data.data(), data.size(), sink);
    finish(decoder, sink, stream_length_limit(decoder));
    std::fflush(stdout);
    dup2(console, fileno(stdout));
    close(console);
    std::fclose(sink);
    const StreamCheck c = stream_check(decoder);
    char line[CHECK_LINE_SIZE];
    format_check_line(c, line);
    std::printf("%s\r\n", line);
    return c.intact ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "pack") == 0) return pack(argv[2], argv[3]);
    if (argc == 4 && std::strcmp(argv[1], "unpack") == 0) return unpack(argv[2], argv[3], false);
    if (argc == 5 && std::strcmp(argv[1], "unpack") == 0 && std::strcmp(argv[2], "--show") == 0) {
        return unpack(argv[3], argv[4], true);
    }
    if (argc == 3 && std::strcmp(argv[1], "check") == 0) return check(argv[2]);
    return usage();
}
