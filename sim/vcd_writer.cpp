#include "sim/vcd_writer.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <ios>
#include <queue>
#include <utility>
#include <vector>

namespace fd::sim {

VcdTimescale ChooseTimescale(double secondsPerPosition) {
    if (!(secondsPerPosition > 0)) return {"1 ns", 1.0};
    static const char* const kUnits[] = {"s", "ms", "us", "ns", "ps", "fs"};
    double scale = 1.0;
    for (const char* unit : kUnits) {
        for (int multiplier : {100, 10, 1}) {
            const double ratio = secondsPerPosition / (scale * multiplier);
            if (ratio >= 1 - 1e-9 && std::fabs(ratio - std::round(ratio)) < 1e-6 * ratio) {
                return {std::to_string(multiplier) + " " + unit, std::round(ratio)};
            }
        }
        scale /= 1000;
    }
    return {"1 fs", secondsPerPosition * 1e15};
}

std::string VcdIdentifier(size_t index) {
    std::string code;
    do {
        code.push_back(static_cast<char>('!' + index % 94));
        index /= 94;
    } while (index-- > 0);
    return code;
}

void WriteVcd(std::ostream& out, const host::Waveform& waveform, const VcdOptions& options) {
    // A failing stream becomes an exception; the caller's mask is restored
    // on the way out (setting it cannot throw then: the state is checked
    // only when the mask is widened).
    struct MaskGuard {
        std::ostream& stream;
        std::ios::iostate mask;
        ~MaskGuard() {
            try {
                stream.exceptions(mask);
            } catch (...) {
            }
        }
    } guard{out, out.exceptions()};
    out.exceptions(std::ios::failbit | std::ios::badbit);
    const VcdTimescale timescale = ChooseTimescale(waveform.secondsPerPosition);
    const bool exact = timescale.unitsPerSample == std::round(timescale.unitsPerSample);
    auto timeOf = [&](uint32_t position) -> uint64_t {
        if (exact) return position * static_cast<uint64_t>(timescale.unitsPerSample);
        return static_cast<uint64_t>(std::llround(position * timescale.unitsPerSample));
    };

    const auto& signals = waveform.signals;
    std::vector<std::string> codes;
    for (size_t i = 0; i < signals.size(); ++i) codes.push_back(VcdIdentifier(i));

    out << "$version " << options.version << " $end\n";
    if (!(waveform.secondsPerPosition > 0)) out << "$comment sample period unknown: one sample per ns $end\n";
    out << "$timescale " << timescale.text << " $end\n";
    out << "$scope module " << options.module << " $end\n";
    for (size_t i = 0; i < signals.size(); ++i) {
        out << "$var wire 1 " << codes[i] << ' ' << signals[i].name << " $end\n";
    }
    out << "$upscope $end\n$enddefinitions $end\n";

    // A change at position 0 only sets the starting level.
    std::vector<uint8_t> level(signals.size());
    std::vector<size_t> cursor(signals.size(), 0);
    for (size_t i = 0; i < signals.size(); ++i) {
        level[i] = signals[i].initialLevel & 1;
        while (cursor[i] < signals[i].changes.size() && signals[i].changes[cursor[i]] == 0) {
            level[i] ^= 1;
            ++cursor[i];
        }
    }
    out << "#0\n$dumpvars\n";
    for (size_t i = 0; i < signals.size(); ++i) out << static_cast<char>('0' + level[i]) << codes[i] << '\n';
    out << "$end\n";

    using Entry = std::pair<uint32_t, size_t>;  // next change, signal
    std::priority_queue<Entry, std::vector<Entry>, std::greater<>> next;
    for (size_t i = 0; i < signals.size(); ++i) {
        if (cursor[i] < signals[i].changes.size()) next.push({signals[i].changes[cursor[i]], i});
    }
    uint64_t lastTime = 0;
    std::vector<size_t> changed;
    while (!next.empty()) {
        const uint32_t position = next.top().first;
        changed.clear();
        while (!next.empty() && next.top().first == position) {
            changed.push_back(next.top().second);
            next.pop();
        }
        std::sort(changed.begin(), changed.end());
        lastTime = timeOf(position);
        out << '#' << lastTime << '\n';
        for (size_t i : changed) {
            const auto& changes = signals[i].changes;
            while (cursor[i] < changes.size() && changes[cursor[i]] == position) {
                level[i] ^= 1;
                out << static_cast<char>('0' + level[i]) << codes[i] << '\n';
                ++cursor[i];
            }
            if (cursor[i] < changes.size()) next.push({changes[cursor[i]], i});
        }
    }
    const uint64_t endTime = timeOf(waveform.endPosition);
    if (endTime > lastTime) out << '#' << endTime << '\n';
    out.flush();
}

}  // namespace fd::sim
