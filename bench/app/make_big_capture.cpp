// make_big_capture: a long monitor capture for timing the capture-file run.
//
//   make_big_capture OUT MEGABYTES [SEED]
//
// Writes at least MEGABYTES million bytes of monitor text: message transfers
// one after another, each with noise lines and text reports before it and
// a reply between its header line and its body, as a busy channel shows
// them.  A few English-like messages are compressed once and sent over and
// over; the text goes to the file as it is built, so memory stays small
// whatever the size.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/support/english_like.h"
#include "tools/capture_builder.h"

namespace {

struct Transfer {
    std::vector<uint8_t> header;
    std::vector<uint8_t> body;
};

const char* const REPORT_TEXTS[] = {
    "QSL, all received here\r",
    "Stand by one\r",
    "Checking in, nothing to report\r",
    "Relay station up on battery power\r",
    "Next schedule at the top of the hour\r",
};

// The transfers sent round: messages of 1 to 8 KB in blocks of the usual
// sizes, every one closed with EOT.
std::vector<Transfer> make_transfers(uint32_t seed) {
    const int32_t block_sizes[] = {250, 256, 128, 200};
    std::vector<Transfer> transfers;
    for (uint32_t i = 0; i < 16; ++i) {
        TransferMessage msg;
        msg.text = english_like_text(1000 + 500 * static_cast<size_t>(i % 15), seed + i);
        msg.identifier = "BENCH" + std::to_string(1000000 + i).substr(1);
        msg.title = "bench message " + std::to_string(i);
        msg.block_size = block_sizes[i % 4];
        transfers.push_back({transfer_header(msg), transfer_body(msg)});
    }
    return transfers;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: make_big_capture OUT MEGABYTES [SEED]\n");
        return 2;
    }
    const uint64_t target = std::strtoull(argv[2], nullptr, 10) * 1000000ull;
    const uint64_t seed = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 1;
    std::FILE* out = std::fopen(argv[1], "wb");
    if (!out) {
        std::fprintf(stderr, "make_big_capture: cannot write %s\n", argv[1]);
        return 1;
    }

    const std::vector<Transfer> transfers = make_transfers(static_cast<uint32_t>(seed));
    CaptureBuilder b;
    builder_start(b, seed);
    add_noise_line(b, "MON monitor on");
    uint64_t written = 0;
    uint64_t messages = 0;
    while (written < target) {
        for (int64_t n = rng_between(b.rng, 0, 2); n > 0; --n) add_noise_line(b);
        for (int64_t n = rng_between(b.rng, 1, 2); n > 0; --n) {
            add_text_report(b, REPORT_TEXTS[rng_between(b.rng, 0, std::size(REPORT_TEXTS) - 1)],
                            static_cast<uint32_t>(rng_between(b.rng, 0, 7)));
        }
        const Transfer& t = transfers[static_cast<size_t>(rng_between(b.rng, 0, static_cast<int64_t>(transfers.size()) - 1))];
        add_binary_reports(b, t.header);
        add_text_report(b, "READY\r", 0);
        add_binary_reports(b, t.body);
        ++messages;
        // Hand the text on and keep nothing of it.
        if (std::fwrite(b.text.data(), 1, b.text.size(), out) != b.text.size()) {
            std::fprintf(stderr, "make_big_capture: error writing %s\n", argv[1]);
            return 1;
        }
        written += b.text.size();
        b.text.clear();
        b.payload.clear();
        b.text_payloads.clear();
    }
    if (std::fclose(out) != 0) {
        std::fprintf(stderr, "make_big_capture: error writing %s\n", argv[1]);
        return 1;
    }
    std::printf("%llu bytes, %llu messages\n", static_cast<unsigned long long>(written),
                static_cast<unsigned long long>(messages));
    return 0;
}
