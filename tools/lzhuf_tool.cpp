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
#include <string>
#include <vector>

#include "lzhuf/lzhuf_decoder.h"
#include "monitor/check_line.h"
#include "tools/lzhuf_encoder.h"
#include "tools/whole_file.h"

namespace {

LzhufDecoder decoder;  // large: keep it out of the stack
uint8_t chunk[1 << 16];

// Every byte, in runs as block data is handed over: the same counts and
// text as one per call.  A run stops after the byte that completes the
// stream, and the next one takes the rest.
void feed_all(const uint8_t* bytes, size_t count, const TextSink& out) {
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

// unpack's sink: the stream, and with --show the console too.
struct UnpackOutput {
    std::FILE* file;
    bool show;
};

void write_unpacked(void* context, const uint8_t* text, uint32_t length) {
    const auto* o = static_cast<const UnpackOutput*>(context);
    std::fwrite(text, 1, length, o->file);
    if (o->show) std::fwrite(text, 1, length, stdout);
}

// check wants the count and the CRC only.
void discard(void*, const uint8_t*, uint32_t) {}

int pack(const char* in_name, const char* out_name) {
    std::string data;
    if (!read_whole_file(in_name, data)) {
        std::printf("lzhuf_tool: cannot read %s\n", in_name);
        return 1;
    }
    const std::vector<uint8_t> message = lzhuf_compress(reinterpret_cast<const uint8_t*>(data.data()), data.size());
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
    UnpackOutput unpacked{out, show};
    const TextSink sink{write_unpacked, &unpacked};
    restart(decoder);
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, in)) > 0) {
        feed_all(chunk, got, sink);
    }
    std::fclose(in);
    return std::fclose(out) == 0 ? 0 : 1;
}

int check(const char* in_name) {
    std::string data;
    if (!read_whole_file(in_name, data)) {
        std::printf("lzhuf_tool: cannot read %s\n", in_name);
        return 2;
    }
    const TextSink sink{discard, nullptr};
    restart(decoder);
    feed_all(reinterpret_cast<const uint8_t*>(data.data()), data.size(), sink);
    finish(decoder, sink, stream_length_limit(decoder));
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
