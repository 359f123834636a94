// Throughput of the byte-fed decoder against a plain whole-buffer decoder of
// the same format, on the same compressed streams.  Each iteration runs, in
// turn, the byte-fed decoder one byte per call, the byte-fed decoder in runs
// of block data as the framer hands them over, and the plain decoder; the
// medians of each give MB/s of decoded text and the ratios to the plain one.
// Alternating inside one iteration keeps a busy machine from favouring one
// side.  Every decoder writes its text to the console and to a stream, both
// /dev/null, as a capture run with its console redirected does.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "app/run_output.h"
#include "bench/lzhuf/plain_decoder.h"
#include "bench/support/english_like.h"
#include "bench/support/quiet_stdout.h"
#include "lzhuf/lzhuf_decoder.h"
#include "tools/lzhuf_encoder.h"

namespace {

constexpr size_t GENERATED_SIZE = 1 << 20;
constexpr size_t PROSE_SIZE = 4 << 20;
constexpr int32_t BLOCK_RUN = 250;  // data bytes of a typical full block
const char* const PROSE_FOLDER = "/usr/share/common-licenses";

LzhufDecoder decoder;
char console_buffer[1 << 16];
char sink_buffer[1 << 16];

std::string random_bytes(size_t size) {
    std::mt19937 rng(5);
    std::string s(size, '\0');
    for (char& c : s) c = static_cast<char>(rng() & 0xFF);
    return s;
}

// Real English prose: the license texts, in name order, repeated to `size`.
// Empty when the folder is missing.
std::string license_prose(size_t size) {
    std::error_code error;
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(PROSE_FOLDER, error)) {
        if (entry.is_regular_file() && !entry.is_symlink()) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    std::string all;
    for (const auto& file : files) {
        std::ifstream in(file, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        all += text.str();
    }
    if (all.empty()) return all;
    std::string prose;
    while (prose.size() < size) prose += all;
    prose.resize(size);
    return prose;
}

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

int64_t byte_fed_single(const std::vector<uint8_t>& message, const TextSink& sink) {
    restart(decoder);
    int64_t produced = 0;
    for (uint8_t byte : message) produced = feed_byte(decoder, byte, sink);
    return produced;
}

int64_t byte_fed_runs(const std::vector<uint8_t>& message, const TextSink& sink) {
    restart(decoder);
    int64_t produced = 0;
    const int32_t size = static_cast<int32_t>(message.size());
    for (int32_t at = 0, used = 0; at < size; at += used) {
        produced = feed_bytes(decoder, message.data() + at, std::min(BLOCK_RUN, size - at), sink, used);
    }
    return produced;
}

size_t plain(const std::vector<uint8_t>& message, std::vector<uint8_t>& text, std::FILE* sink) {
    const size_t produced = plain_decode(message.data(), message.size(), text.data(), text.size());
    std::fwrite(text.data(), 1, produced, stdout);
    std::fwrite(text.data(), 1, produced, sink);
    return produced;
}

void run_comparison(benchmark::State& state, const std::string& input) {
    const std::vector<uint8_t> message =
        lzhuf_compress(reinterpret_cast<const uint8_t*>(input.data()), input.size());
    std::vector<uint8_t> text(input.size());
    std::FILE* sink = std::fopen("/dev/null", "wb");
    std::setvbuf(sink, sink_buffer, _IOFBF, sizeof sink_buffer);
    // Decoded text goes where the program sends it: the console (quiet
    // below) and the payload file.
    RunOutput streams{.payload_file = sink};
    const TextSink decoded = message_sink(run_output(streams));
    if (plain_decode(message.data(), message.size(), text.data(), text.size()) != input.size() ||
        std::memcmp(text.data(), input.data(), input.size()) != 0) {
        state.SkipWithError("the plain decoder does not reproduce the input");
        std::fclose(sink);
        return;
    }
    std::vector<double> single_times, run_times, plain_times;
    int64_t single_chars = 0, run_chars = 0;
    size_t plain_chars = 0;
    {
        QuietStdout quiet;
        for (auto _ : state) {
            Clock::time_point start = Clock::now();
            single_chars = byte_fed_single(message, decoded);
            single_times.push_back(seconds_since(start));
            start = Clock::now();
            run_chars = byte_fed_runs(message, decoded);
            run_times.push_back(seconds_since(start));
            start = Clock::now();
            plain_chars = plain(message, text, sink);
            plain_times.push_back(seconds_since(start));
            benchmark::DoNotOptimize(plain_chars);
        }
    }
    std::fclose(sink);
    const double single_rate = static_cast<double>(single_chars) / 1e6 / median(single_times);
    const double run_rate = static_cast<double>(run_chars) / 1e6 / median(run_times);
    const double plain_rate = static_cast<double>(plain_chars) / 1e6 / median(plain_times);
    state.counters["byte_MBps"] = single_rate;
    state.counters["runs_MBps"] = run_rate;
    state.counters["plain_MBps"] = plain_rate;
    state.counters["byte/plain"] = single_rate / plain_rate;
    state.counters["runs/plain"] = run_rate / plain_rate;
    state.counters["comp_ratio"] = static_cast<double>(input.size()) / static_cast<double>(message.size());
}

void BM_EnglishLike(benchmark::State& state) {
    static const std::string text = english_like_text(GENERATED_SIZE);
    run_comparison(state, text);
}

void BM_RandomBytes(benchmark::State& state) {
    static const std::string bytes = random_bytes(GENERATED_SIZE);
    run_comparison(state, bytes);
}

}  // namespace

int main(int argc, char** argv) {
    // Fully buffered like the program's console when it is redirected.
    std::setvbuf(stdout, console_buffer, _IOFBF, sizeof console_buffer);
    benchmark::Initialize(&argc, argv);
    benchmark::RegisterBenchmark("BM_EnglishLike", BM_EnglishLike)->Unit(benchmark::kMillisecond)->Iterations(15);
    benchmark::RegisterBenchmark("BM_RandomBytes", BM_RandomBytes)->Unit(benchmark::kMillisecond)->Iterations(15);
    static const std::string prose = license_prose(PROSE_SIZE);
    if (prose.empty()) {
        std::printf("BM_Prose skipped: no license texts in %s (Debian's base-files package ships them)\n",
                    PROSE_FOLDER);
    } else {
        benchmark::RegisterBenchmark("BM_Prose", [](benchmark::State& state) { run_comparison(state, prose); })
            ->Unit(benchmark::kMillisecond)
            ->Iterations(9);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
