// Throughput of the byte-fed decoder: MB/s of decoded output, one byte per
// call exactly as the framer feeds it, console and stream to /dev/null.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>

#include "bench/support/english_like.h"
#include "bench/support/quiet_stdout.h"
#include "lzhuf/lzhuf_decoder.h"
#include "tools/lzhuf_encoder.h"

namespace {

constexpr size_t INPUT_SIZE = 1 << 20;

LzhufDecoder decoder;


void run_decoder(benchmark::State& state, const std::string& input) {
    const std::vector<uint8_t> message =
        lzhuf_compress(reinterpret_cast<const uint8_t*>(input.data()), input.size());
    std::FILE* sink = std::fopen("/dev/null", "wb");
    int32_t produced = 0;
    {
        QuietStdout quiet;
        for (auto _ : state) {
            restart(decoder);
            for (uint8_t byte : message) produced = feed_byte(decoder, byte, sink);
            benchmark::DoNotOptimize(produced);
        }
    }
    std::fclose(sink);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * produced);
    state.counters["ratio"] = static_cast<double>(input.size()) / static_cast<double>(message.size());
}

void BM_DecodeEnglishLike(benchmark::State& state) {
    static const std::string text = english_like_text(INPUT_SIZE);
    run_decoder(state, text);
}

void BM_DecodeRandomBytes(benchmark::State& state) {
    static const std::string bytes = [] {
        std::mt19937 rng(5);
        std::string s(INPUT_SIZE, '\0');
        for (char& c : s) c = static_cast<char>(rng() & 0xFF);
        return s;
    }();
    run_decoder(state, bytes);
}

}  // namespace

BENCHMARK(BM_DecodeEnglishLike)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeRandomBytes)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
