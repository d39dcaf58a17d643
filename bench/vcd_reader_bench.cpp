// Throughput of the VCD reader on an Ultra DMA read as analyzer software
// writes it: a 16-bit data vector and a strobe toggling at every word.
// Reports bytes per second of VCD text and the changes kept.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "host/formats/vcd_reader.h"

namespace {

std::string UltraDmaVcd(size_t words) {
    std::string text =
        "$timescale 1ns $end\n$scope module bus $end\n"
        "$var wire 1 ! DMARQ $end\n$var wire 1 \" DMACK- $end\n$var wire 1 # CS1- $end\n$var wire 1 $ CS0- "
        "$end\n"
        "$var wire 3 % DA [2:0] $end\n$var wire 1 & DIOR- $end\n$var wire 1 ' DIOW- $end\n$var wire 1 ( "
        "IORDY $end\n"
        "$var wire 16 ) DD [15:0] $end\n$upscope $end\n$enddefinitions $end\n"
        "#0\n$dumpvars\n1!\n0\"\n1#\n1$\nb0 %\n0&\n0'\n1(\nb0 )\n$end\n";
    std::mt19937 random(1);
    uint64_t time = 10;
    int strobe = 1;
    std::string bits(16, '0');
    for (size_t word = 0; word < words; ++word) {
        const uint32_t value = static_cast<uint32_t>(random());
        for (int bit = 0; bit < 16; ++bit)
            bits[static_cast<size_t>(15 - bit)] = static_cast<char>('0' + ((value >> bit) & 1));
        text += "#" + std::to_string(time) + "\nb" + bits + " )\n";
        time += 3;
        strobe ^= 1;
        text += "#" + std::to_string(time) + "\n" + std::to_string(strobe) + "(\n";
        time += 2;
    }
    text += "#" + std::to_string(time + 10) + "\n";
    return text;
}

void ReadUltraDma(benchmark::State& state) {
    const std::string text = UltraDmaVcd(static_cast<size_t>(state.range(0)));
    size_t changes = 0;
    for (auto _ : state) {
        const fd::host::Waveform waveform = fd::host::ReadVcdText(text, "bench.vcd");
        changes = 0;
        for (const auto& signal : waveform.signals) changes += signal.changes.size();
        benchmark::DoNotOptimize(changes);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.counters["changes"] = static_cast<double>(changes);
    state.counters["MB"] = static_cast<double>(text.size()) / 1e6;
}
BENCHMARK(ReadUltraDma)->Arg(1 << 16)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
