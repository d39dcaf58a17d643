// The timing checks and the timeline page on a capture of about a million
// records (16 READ DMA commands of 256 sectors in Ultra DMA, synthesized):
// records judged per second, and the time and size of the page cfdecode
// writes for it.
#include <benchmark/benchmark.h>

#include <sstream>

#include "host/analysis/timing_check.h"
#include "host/html/timeline_page.h"
#include "sim/bus.h"
#include "sim/scenarios.h"

namespace {

using namespace fd::host;

struct MillionCapture {
    Waveform waveform;
    std::vector<analysis::Record> records;
    analysis::BusSignals bus{};

    MillionCapture() {
        fd::sim::Bus synthesizer;
        fd::sim::ScenarioParams params;
        params.sectors = 256;
        for (int i = 0; i < 16; ++i) fd::sim::RunScenario(synthesizer, "udma-read", params);
        waveform = synthesizer.Finish();
        for (const auto& phase : synthesizer.transcript().phases) {
            for (const auto& word : phase.words) {
                const bool udma = phase.kind == fd::sim::PhaseKind::UdmaIn;
                records.push_back({word.position, word.value, static_cast<uint16_t>(udma ? 4026 : 4011)});
            }
        }
        for (size_t role = 0; role < bus.size(); ++role) bus[role] = &waveform.signals[role];
    }
};

const MillionCapture& Capture() {
    static const MillionCapture capture;
    return capture;
}

void CheckTimingOfAMillionRecords(benchmark::State& state) {
    const MillionCapture& capture = Capture();
    analysis::TimingOptions options;
    options.samplePeriodNs = 5;
    options.udma = analysis::TransferMode{analysis::ModeFamily::Udma, 4};
    for (auto _ : state) {
        const analysis::TimingReport report = analysis::CheckTiming(capture.records, capture.bus, options);
        benchmark::DoNotOptimize(report.cyclesChecked);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * capture.records.size()));
}
BENCHMARK(CheckTimingOfAMillionRecords)->Unit(benchmark::kMillisecond);

void WritePageOfAMillionRecords(benchmark::State& state) {
    const MillionCapture& capture = Capture();
    TimelineInput input;
    input.title = "million";
    input.bus = &capture.waveform;
    for (const auto& r : capture.records) input.records.push_back({r.position, r.value, r.fieldId});
    input.fields[4026] = {"DATA(R)", "#33CC33", 2, 16, true};
    input.fields[4011] = {"STATUS", "#F48459", 2, 8, true};
    input.transactions = analysis::AnalyzeRecords(capture.records, false);
    size_t bytes = 0;
    for (auto _ : state) {
        std::ostringstream out;
        WriteTimelinePage(out, input);
        bytes = out.str().size();
    }
    state.counters["page_MB"] = static_cast<double>(bytes) / 1e6;
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * capture.records.size()));
}
BENCHMARK(WritePageOfAMillionRecords)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
