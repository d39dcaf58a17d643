#include "host/pipeline/window_cutter.h"

#include <algorithm>

namespace fd::host {

namespace {

enum Line : size_t { Dmarq, Dmack, Cs1, Cs0, A0, A1, A2, Iord, Iowr, Iordy };

// One line's level followed forward over ascending positions.
class LineCursor {
public:
    explicit LineCursor(const Signal& signal) : signal_(signal) {}
    // The level at `position` and whether the line changes there.
    void MoveTo(uint64_t position) {
        const std::vector<uint32_t>& changes = signal_.changes;
        next_ = static_cast<size_t>(
            std::upper_bound(changes.begin() + static_cast<ptrdiff_t>(next_), changes.end(), position) -
            changes.begin());
        changedHere_ = next_ > 0 && changes[next_ - 1] == position;
    }
    int Level() const { return signal_.initialLevel ^ static_cast<int>(next_ & 1); }
    bool ChangedHere() const { return changedHere_; }

private:
    const Signal& signal_;
    size_t next_ = 0;
    bool changedHere_ = false;
};

}  // namespace

uint64_t TransitionsBetween(std::span<const Signal* const> channels, uint64_t from, uint64_t to) {
    uint64_t transitions = 0;
    for (const Signal* channel : channels) {
        const Signal& signal = *channel;
        const auto begin = std::lower_bound(signal.changes.begin(), signal.changes.end(), from);
        transitions += static_cast<uint64_t>(std::lower_bound(begin, signal.changes.end(), to) - begin);
    }
    return transitions;
}

std::vector<uint64_t> FindCuts(std::span<const Signal* const> channels, uint64_t first, uint64_t end,
                               const CutOptions& options) {
    std::vector<uint64_t> cuts;
    if (channels.size() < kCutLines) return cuts;
    std::vector<LineCursor> lines;
    lines.reserve(kCutLines);
    for (size_t line = 0; line < kCutLines; ++line) lines.emplace_back(*channels[line]);
    const auto usable = [&](uint64_t p) {
        for (LineCursor& line : lines) line.MoveTo(p);
        return lines[Iowr].Level() == 0 && lines[Iord].Level() == 1 && !lines[Iord].ChangedHere() &&
               !lines[Iordy].ChangedHere() && lines[Dmack].Level() == 1 && lines[Cs1].Level() == 1 &&
               lines[Cs0].Level() == 0 && lines[A2].Level() == 1 && lines[A1].Level() == 1 &&
               lines[A0].Level() == 0;
    };

    uint64_t windowBegin = first;
    uint64_t previous = first;  // the last usable cut point not taken
    const std::vector<uint32_t>& strobe = channels[Iowr]->changes;
    for (auto it = std::upper_bound(strobe.begin(), strobe.end(), first); it != strobe.end() && *it < end;
         ++it) {
        const uint64_t p = *it;
        if (!usable(p)) continue;
        if (p - windowBegin > options.maxSpan && previous > windowBegin) {
            cuts.push_back(previous);
            windowBegin = previous;
        }
        if (p - windowBegin <= options.maxSpan &&
            TransitionsBetween(channels, windowBegin, p) >= options.windowTransitions) {
            cuts.push_back(p);
            windowBegin = p;
        }
        previous = p;
    }
    return cuts;
}

}  // namespace fd::host
