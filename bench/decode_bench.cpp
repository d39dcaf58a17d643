// Decode and the level questions under it, on in-memory captures of the
// benchmark workload (cfsim bench: Ultra DMA bursts of 4096 words with
// pauses, task-file writes, STATUS reads; four samples per strobe edge).
// Each runs on both query paths: the decode's cursors and the
// straightforward bisection it must match. Rates are strobe edges (visited
// positions) or questions per second. Used by bench/run and by hand:
//   decode_bench --benchmark_filter=Decode
#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>

#include "host/model/capture_image.h"
#include "plugin/capture/capture_access.h"
#include "plugin/decoder/decode_driver.h"
#include "plugin/decoder/record_store.h"
#include "plugin/decoder/signal_access.h"
#include "plugin/interface/settings.h"
#include "sim/bus.h"
#include "sim/scenarios.h"

namespace {

struct Workload {
    std::unique_ptr<fd::host::CaptureImage> image;
    std::vector<uint32_t> strobePositions;  // distinct, ascending
    uint64_t changes = 0;
};

// Built once per size and kept for the whole run.
const Workload& BenchWorkload(int64_t edges) {
    static std::map<int64_t, Workload> made;
    Workload& workload = made[edges];
    if (workload.image) return workload;
    fd::sim::Options options;
    options.udmaMode = 5;  // 20 ns per strobe edge, 5 ns samples: four samples per edge
    options.samplePeriodNs = 5;
    fd::sim::Bus bus(options);
    fd::sim::ScenarioParams params;
    params.edges = static_cast<uint64_t>(edges);
    fd::sim::RunScenario(bus, "bench", params);
    const fd::host::Waveform waveform = bus.Finish();
    for (const auto& signal : waveform.signals) workload.changes += signal.changes.size();
    for (int line : {fd::sim::kIord, fd::sim::kIowr, fd::sim::kIordy}) {
        const auto& changes = waveform.signals[static_cast<size_t>(line)].changes;
        workload.strobePositions.insert(workload.strobePositions.end(), changes.begin(), changes.end());
    }
    std::sort(workload.strobePositions.begin(), workload.strobePositions.end());
    workload.strobePositions.erase(
        std::unique(workload.strobePositions.begin(), workload.strobePositions.end()),
        workload.strobePositions.end());
    workload.image = std::make_unique<fd::host::CaptureImage>(fd::host::CaptureImage::FromWaveform(waveform));
    return workload;
}

fd::ChannelBinding Binding(const FdCapture& capture) {
    fd::ChannelBinding binding{};
    for (size_t i = 0; i < binding.size(); ++i) binding[i] = capture.channelList->channels[i];
    return binding;
}

void Decode(benchmark::State& state, fd::QueryPath path) {
    const Workload& workload = BenchWorkload(state.range(0));
    FdCapture& capture = *workload.image->capture();
    fd::SetDefaults(fd::LiveSettings());
    for (int i = 0; i <= 10; ++i) fd::LiveSettings().channel[i] = i;
    fd::SelectQueryPath(path);
    for (auto _ : state) {
        fd::DecodeCapture(capture);
        benchmark::DoNotOptimize(fd::Records().Count());
    }
    fd::SelectQueryPath(fd::QueryPath::Cursors);
    const auto edges = static_cast<double>(workload.strobePositions.size());
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(edges));
    state.counters["edges"] = edges;
    state.counters["records"] = fd::Records().Count();
    state.counters["edges_per_s"] = benchmark::Counter(edges, benchmark::Counter::kIsIterationInvariantRate);
    fd::ClearRecords();
}

void DecodeCursors(benchmark::State& state) { Decode(state, fd::QueryPath::Cursors); }
void DecodeBisection(benchmark::State& state) { Decode(state, fd::QueryPath::Bisection); }
BENCHMARK(DecodeCursors)->RangeMultiplier(10)->Range(100'000, 10'000'000)->Unit(benchmark::kMillisecond);
BENCHMARK(DecodeBisection)->RangeMultiplier(10)->Range(100'000, 10'000'000)->Unit(benchmark::kMillisecond);

// The questions a decode asks at each strobe edge, without the decoders:
// the three strobes' edge kinds, the control levels and the data word.
void Questions(benchmark::State& state, fd::QueryPath path) {
    const Workload& workload = BenchWorkload(state.range(0));
    const fd::ChannelBinding binding = Binding(*workload.image->capture());
    for (auto _ : state) {
        fd::SignalAccess signals(binding, path);
        uint32_t sum = 0;
        for (const uint32_t p : workload.strobePositions) {
            sum += static_cast<uint32_t>(signals.EdgeKind(fd::Signal::Iord, p) +
                                         signals.EdgeKind(fd::Signal::Iowr, p) +
                                         signals.EdgeKind(fd::Signal::Iordy, p));
            sum += static_cast<uint32_t>(signals.CycleCode(p)) + signals.DataWord(p);
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * workload.strobePositions.size()));
}
void QuestionsCursors(benchmark::State& state) { Questions(state, fd::QueryPath::Cursors); }
void QuestionsBisection(benchmark::State& state) { Questions(state, fd::QueryPath::Bisection); }
BENCHMARK(QuestionsCursors)->Arg(1'000'000)->Unit(benchmark::kMillisecond);
BENCHMARK(QuestionsBisection)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

// One line's level at ascending positions (a step of 1 to 8 samples): a
// forward cursor against a bisection per question.
void LevelQuestions(benchmark::State& state, bool cursor) {
    const Workload& workload = BenchWorkload(state.range(0));
    const FdChannel& channel = *workload.image->capture()->channelList->channels[fd::sim::kD0];
    std::vector<uint32_t> positions;
    std::mt19937 random(7);
    const uint32_t end = workload.image->capture()->endPosition;
    for (uint32_t p = 1; p < end; p += 1 + static_cast<uint32_t>(random() % 8)) positions.push_back(p);
    fd::ChannelBinding binding;
    binding.fill(&channel);
    for (auto _ : state) {
        int sum = 0;
        if (cursor) {
            const fd::SignalAccess signals(binding);
            for (const uint32_t p : positions) sum += signals.Level(fd::Signal::D0, p);
        } else {
            for (const uint32_t p : positions) sum += fd::Level(channel, p);
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * positions.size()));
}
void LevelCursor(benchmark::State& state) { LevelQuestions(state, true); }
void LevelBisection(benchmark::State& state) { LevelQuestions(state, false); }
BENCHMARK(LevelCursor)->Arg(1'000'000)->Unit(benchmark::kMillisecond);
BENCHMARK(LevelBisection)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
