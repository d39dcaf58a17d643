// A writer of DSView logic sessions (.dsl) as DSView saves them, for the
// reader tests: a zip with the INI header and each probe's sample blocks.
#pragma once

#include <zip.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "host/model/waveform.h"
#include "tests/support/zip_fixture.h"

namespace fd::test {

// DSView's header of a logic session of these probes (probeN = name).
inline std::string DslHeader(const std::vector<std::string>& names, uint64_t samples, uint64_t blocks,
                             const std::string& samplerate) {
    std::string header =
        "[version]\nversion = 2\n[header]\ndriver = DSLogic\ndevice mode = 0\n"
        "capturefile = data\ntotal samples = " +
        std::to_string(samples) + "\ntotal probes = " + std::to_string(names.size()) +
        "\ntotal blocks = " + std::to_string(blocks) + "\nsamplerate = " + samplerate +
        "\ntrigger time = 1765450000000\ntrigger pos = 0\n";
    for (size_t i = 0; i < names.size(); ++i) header += "probe" + std::to_string(i) + " = " + names[i] + "\n";
    return header;
}

// A signal's samples 0 .. samples-1, a bit each, lowest bit first, in
// blocks of blockBytes (the last one holding what is left, in whole bytes).
inline std::vector<std::string> DslBlocks(const host::Signal& signal, uint64_t samples, size_t blockBytes) {
    std::vector<std::string> blocks;
    std::string bits((samples + 7) / 8, '\0');
    uint8_t level = signal.initialLevel;
    size_t next = 0;
    for (uint64_t s = 0; s < samples; ++s) {
        while (next < signal.changes.size() && signal.changes[next] <= s) {
            level ^= 1;
            ++next;
        }
        if (level) bits[s / 8] = static_cast<char>(bits[s / 8] | (1 << (s % 8)));
    }
    for (size_t at = 0; at < bits.size(); at += blockBytes) blocks.push_back(bits.substr(at, blockBytes));
    return blocks;
}

// A whole DSView logic session of the waveform's samples 0 .. endPosition-1.
inline std::string DslOf(const host::Waveform& waveform, const std::string& samplerate, size_t blockBytes) {
    const uint64_t samples = waveform.endPosition;
    std::vector<std::string> names;
    for (const host::Signal& signal : waveform.signals) names.push_back(signal.name);
    const uint64_t blocks = ((samples + 7) / 8 + blockBytes - 1) / blockBytes;
    std::vector<std::pair<std::string, std::string>> members{
        {"header", DslHeader(names, samples, blocks, samplerate)}, {"decoders", "[]"}, {"session", "{}"}};
    for (size_t p = 0; p < waveform.signals.size(); ++p) {
        const std::vector<std::string> data = DslBlocks(waveform.signals[p], samples, blockBytes);
        for (size_t b = 0; b < data.size(); ++b)
            members.emplace_back("L-" + std::to_string(p) + "/" + std::to_string(b), data[b]);
    }
    return ZipBytes(members);
}

}  // namespace fd::test
