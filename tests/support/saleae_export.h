// A writer of Saleae Logic 2 binary export channel files (versions 0 and 1),
// laid out as Saleae's documentation of the format describes them, for the
// reader tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "host/model/waveform.h"

namespace fd::test {

inline void PutLe32(std::string& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}
inline void PutLe64(std::string& out, uint64_t value) {
    for (int i = 0; i < 8; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}
inline void PutDouble(std::string& out, double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    PutLe64(out, bits);
}

// The common header: <SALEAE>, version, type (0 digital, 1 analog).
inline std::string SaleaeHeader(uint32_t version, uint32_t type = 0) {
    std::string out = "<SALEAE>";
    PutLe32(out, version);
    PutLe32(out, type);
    return out;
}

// One stretch of a channel: the level at its begin time and the times it
// toggles, seconds.
struct SaleaeChunk {
    uint32_t initialState = 0;
    double sampleRate = 0;  // written by version 1 only
    double begin = 0, end = 0;
    std::vector<double> times;
};

inline std::string SaleaeV0(const SaleaeChunk& chunk) {
    std::string out = SaleaeHeader(0);
    PutLe32(out, chunk.initialState);
    PutDouble(out, chunk.begin);
    PutDouble(out, chunk.end);
    PutLe64(out, chunk.times.size());
    for (double t : chunk.times) PutDouble(out, t);
    return out;
}

inline std::string SaleaeV1(const std::vector<SaleaeChunk>& chunks) {
    std::string out = SaleaeHeader(1);
    PutLe64(out, chunks.size());
    for (const SaleaeChunk& chunk : chunks) {
        PutLe32(out, chunk.initialState);
        PutDouble(out, chunk.sampleRate);
        PutDouble(out, chunk.begin);
        PutDouble(out, chunk.end);
        PutLe64(out, chunk.times.size());
        for (double t : chunk.times) PutDouble(out, t);
    }
    return out;
}

// A signal of `end` samples at `rate` as Logic 2 exports it: times are
// sample numbers over the rate. Version 1 splits it into two chunks that
// meet at `split` (no gap), the second opening with the level there.
inline std::string SaleaeChannelOf(const host::Signal& signal, uint32_t end, double rate, int version,
                                   uint32_t split = 0) {
    if (version == 0) {
        SaleaeChunk chunk{signal.initialLevel, 0, 0, end / rate, {}};
        for (uint32_t change : signal.changes) chunk.times.push_back(change / rate);
        return SaleaeV0(chunk);
    }
    std::vector<SaleaeChunk> chunks;
    chunks.push_back({signal.initialLevel, rate, 0, (split == 0 ? end : split) / rate, {}});
    uint8_t level = signal.initialLevel;
    for (uint32_t change : signal.changes) {
        if (split != 0 && change >= split && chunks.size() == 1)
            chunks.push_back({level, rate, split / rate, end / rate, {}});
        chunks.back().times.push_back(change / rate);
        level ^= 1;
    }
    if (split != 0 && chunks.size() == 1) chunks.push_back({level, rate, split / rate, end / rate, {}});
    return SaleaeV1(chunks);
}

}  // namespace fd::test
