// Monitor text through the parser alone, and through the whole capture
// path (parser, ring, framer, decoder), in MB/s of monitor text.  What the
// machines print goes to /dev/null; the benchmark's own report still shows.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "bench/support/quiet_stdout.h"
#include "app/run_output.h"
#include "monitor/monitor_parser.h"
#include "monitor/payload_drain.h"
#include "tools/capture_builder.h"
#include "tools/monitor_machines.h"

namespace {

using Machines = MonitorMachines;

// Words in a random order compress poorly, so most of the capture is hex
// pairs, as on a busy channel carrying messages.
std::string capture_text(int32_t max_text_reports, size_t text_report_size) {
    CaptureRng rng{42};
    static const char* const WORDS[] = {"weather ", "north ", "wind ", "12 ", "knots ", "sea ", "calm ",
                                        "visibility ", "good ", "\r\n", "pressure ", "1012 ", "falling "};
    std::vector<TransferMessage> msgs(40);
    for (TransferMessage& msg : msgs) {
        while (msg.text.size() < 40000) msg.text += WORDS[rng_between(rng, 0, std::size(WORDS) - 1)];
    }
    CaptureOptions options;
    options.max_text_reports = max_text_reports;
    options.report_texts = {std::string(text_report_size, 'x') + "\r"};
    return build_capture(msgs, options).text;
}

void run_parser(benchmark::State& state, const std::string& capture) {
    auto m = std::make_unique<Machines>();
    std::FILE* null_file = std::fopen("/dev/null", "wb");
    RunOutput streams{.payload_file = null_file};
    const MonitorOutput payload_file = run_output(streams);
    {
        QuietStdout quiet;
        for (auto _ : state) {
            for (const char c : capture) feed_char(m->parser, m->ring, payload_file, static_cast<uint8_t>(c));
            std::fflush(stdout);
        }
    }
    std::fclose(null_file);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(capture.size()));
}

// One read's worth per call, as a run driver would hand it over.
void run_parser_batches(benchmark::State& state, const std::string& capture) {
    auto m = std::make_unique<Machines>();
    std::FILE* null_file = std::fopen("/dev/null", "wb");
    RunOutput streams{.payload_file = null_file};
    const MonitorOutput payload_file = run_output(streams);
    const auto* chars = reinterpret_cast<const uint8_t*>(capture.data());
    {
        QuietStdout quiet;
        for (auto _ : state) {
            for (size_t at = 0; at < capture.size(); at += 4095) {
                const size_t n = std::min<size_t>(4095, capture.size() - at);
                feed_chars(m->parser, m->ring, payload_file, chars + at, static_cast<int32_t>(n));
                std::fflush(stdout);
            }
        }
    }
    std::fclose(null_file);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(capture.size()));
}

void BM_ParserBinaryHeavy(benchmark::State& state) {
    static const std::string capture = capture_text(2, 40);
    run_parser(state, capture);
}
BENCHMARK(BM_ParserBinaryHeavy)->Unit(benchmark::kMillisecond);

void BM_ParserTextHeavy(benchmark::State& state) {
    static const std::string capture = capture_text(200, 2000);
    run_parser(state, capture);
}
BENCHMARK(BM_ParserTextHeavy)->Unit(benchmark::kMillisecond);

void BM_ParserBatchBinaryHeavy(benchmark::State& state) {
    static const std::string capture = capture_text(2, 40);
    run_parser_batches(state, capture);
}
BENCHMARK(BM_ParserBatchBinaryHeavy)->Unit(benchmark::kMillisecond);

void BM_ParserBatchTextHeavy(benchmark::State& state) {
    static const std::string capture = capture_text(200, 2000);
    run_parser_batches(state, capture);
}
BENCHMARK(BM_ParserBatchTextHeavy)->Unit(benchmark::kMillisecond);

// Parser, drain, framer and decoder, draining after every 4095 characters
// as a live run would; capture text per second.
void BM_CapturePath(benchmark::State& state) {
    static const std::string capture = capture_text(2, 40);
    auto m = std::make_unique<Machines>();
    std::FILE* null_file = std::fopen("/dev/null", "wb");
    RunOutput streams{.payload_file = null_file};
    const MonitorOutput payload_file = run_output(streams);
    {
        QuietStdout quiet;
        for (auto _ : state) {
            for (size_t at = 0; at < capture.size(); at += 4095) {
                const size_t end = std::min(capture.size(), at + 4095);
                feed_chars(m->parser, m->ring, payload_file, reinterpret_cast<const uint8_t*>(capture.data()) + at,
                           static_cast<int32_t>(end - at));
                drain_payload_ring(m->ring, m->framer, m->decoder, payload_file);
            }
            std::fflush(stdout);
        }
    }
    std::fclose(null_file);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(capture.size()));
}
BENCHMARK(BM_CapturePath)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
