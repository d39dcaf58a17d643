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

VcdOptions VcdOptionsFor(const Transcript& transcript, const host::Waveform& waveform) {
    VcdOptions options;
    if (transcript.undriven.empty()) return options;
    std::vector<VcdSpan> spans;
    for (const Span& span : transcript.undriven) spans.push_back({span.from, span.to});
    options.undriven.resize(waveform.signals.size());
    for (int bit = 0; bit < 16 && static_cast<size_t>(kD0 + bit) < waveform.signals.size(); ++bit) {
        options.undriven[static_cast<size_t>(kD0 + bit)] = spans;
    }
    return options;
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

    // Stretch boundaries of each signal as one ascending list: from, to,
    // from, to, ... (empty stretches and those past the end left out). An
    // odd count of boundaries passed means the signal is undriven.
    std::vector<std::vector<uint32_t>> boundaries(signals.size());
    for (size_t i = 0; i < signals.size() && i < options.undriven.size(); ++i) {
        for (const VcdSpan& span : options.undriven[i]) {
            if (span.to <= span.from || span.from > waveform.endPosition) continue;
            boundaries[i].push_back(span.from);
            if (span.to <= waveform.endPosition) boundaries[i].push_back(span.to);
        }
    }
    std::vector<size_t> boundary(signals.size(), 0);
    auto nextBoundary = [&](size_t i) -> uint32_t {
        return boundary[i] < boundaries[i].size() ? boundaries[i][boundary[i]] : 0xFFFFFFFFu;
    };
    auto undrivenNow = [&](size_t i) { return boundary[i] % 2 == 1; };

    // A change at position 0 only sets the starting level.
    std::vector<uint8_t> level(signals.size());
    std::vector<size_t> cursor(signals.size(), 0);
    for (size_t i = 0; i < signals.size(); ++i) {
        level[i] = signals[i].initialLevel & 1;
        while (cursor[i] < signals[i].changes.size() && signals[i].changes[cursor[i]] == 0) {
            level[i] ^= 1;
            ++cursor[i];
        }
        while (nextBoundary(i) == 0) ++boundary[i];
    }
    out << "#0\n$dumpvars\n";
    for (size_t i = 0; i < signals.size(); ++i) {
        out << (undrivenNow(i) ? 'z' : static_cast<char>('0' + level[i])) << codes[i] << '\n';
    }
    out << "$end\n";

    auto nextEvent = [&](size_t i) -> uint32_t {
        const auto& changes = signals[i].changes;
        const uint32_t change = cursor[i] < changes.size() ? changes[cursor[i]] : 0xFFFFFFFFu;
        return std::min(change, nextBoundary(i));
    };
    auto pending = [&](size_t i) {
        return cursor[i] < signals[i].changes.size() || boundary[i] < boundaries[i].size();
    };
    using Entry = std::pair<uint32_t, size_t>;  // next event, signal
    std::priority_queue<Entry, std::vector<Entry>, std::greater<>> next;
    for (size_t i = 0; i < signals.size(); ++i) {
        if (pending(i)) next.push({nextEvent(i), i});
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
        bool stamped = false;
        auto stamp = [&] {
            if (stamped) return;
            stamped = true;
            lastTime = timeOf(position);
            out << '#' << lastTime << '\n';
        };
        for (size_t i : changed) {
            const auto& changes = signals[i].changes;
            const bool wasUndriven = undrivenNow(i);
            while (nextBoundary(i) == position) ++boundary[i];
            const bool isUndriven = undrivenNow(i);
            while (cursor[i] < changes.size() && changes[cursor[i]] == position) {
                level[i] ^= 1;
                if (!wasUndriven && !isUndriven) {
                    stamp();
                    out << static_cast<char>('0' + level[i]) << codes[i] << '\n';
                }
                ++cursor[i];
            }
            if (wasUndriven != isUndriven) {
                stamp();
                out << (isUndriven ? 'z' : static_cast<char>('0' + level[i])) << codes[i] << '\n';
            }
            if (pending(i)) next.push({nextEvent(i), i});
        }
    }
    const uint64_t endTime = timeOf(waveform.endPosition);
    if (endTime > lastTime) out << '#' << endTime << '\n';
    out.flush();
}

}  // namespace fd::sim
