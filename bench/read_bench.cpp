// Times the capture readers on a file: reads it RUNS times (VCD, .sr or CSV,
// as cfdecode does) and prints one JSON object with the median seconds, the
// file's size and the value changes kept. Used by bench/run for the read
// rates.
//   read_bench FILE [RUNS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "host/formats/capture_reader.h"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: read_bench FILE [RUNS]\n");
        return 2;
    }
    const std::string path = argv[1];
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    std::vector<double> seconds;
    uint64_t changes = 0;
    try {
        for (int run = 0; run < runs; ++run) {
            const auto started = std::chrono::steady_clock::now();
            const fd::host::Waveform waveform = fd::host::ReadCapture(path);
            seconds.push_back(
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
            changes = 0;
            for (const auto& signal : waveform.signals) changes += signal.changes.size();
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "read_bench: %s\n", error.what());
        return 1;
    }
    std::sort(seconds.begin(), seconds.end());
    std::printf(
        "{\"file\": \"%s\", \"bytes\": %llu, \"changes\": %llu, \"runs\": %d, \"median_s\": %.6f, \"min_s\": "
        "%.6f}\n",
        path.c_str(), static_cast<unsigned long long>(std::filesystem::file_size(path)),
        static_cast<unsigned long long>(changes), runs, seconds[seconds.size() / 2], seconds.front());
    return 0;
}
