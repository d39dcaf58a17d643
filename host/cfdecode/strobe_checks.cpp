#include "host/cfdecode/strobe_checks.h"

#include <algorithm>

#include "plugin/interface/host_abi.h"

namespace fd::host {
namespace {

// Field ids of the register, PIO data and multiword DMA cycles.
constexpr uint16_t kFirstCycleField = FdFieldPioRead;
constexpr uint16_t kLastCycleField = FdFieldDmaWrite;

// One role's line: a signal of the capture, or a stand-in at its idle level.
struct Line {
    uint8_t initial = 0;
    const std::vector<uint32_t>* changes = nullptr;

    int LevelAt(uint32_t position) const {
        const auto toggles = std::upper_bound(changes->begin(), changes->end(), position) - changes->begin();
        return (initial ^ static_cast<int>(toggles & 1)) & 1;
    }
    // Does the line change at a position in (after, before)?
    bool ChangesBetween(uint32_t after, uint32_t before) const {
        const auto next = std::upper_bound(changes->begin(), changes->end(), after);
        return next != changes->end() && *next < before;
    }
};

Line RoleLine(const Waveform& waveform, const ChannelPlan& plan, int role) {
    static const std::vector<uint32_t> kNone;
    const PlannedChannel& channel = plan.channels[static_cast<size_t>(role)];
    if (channel.signal < 0) return {channel.idleLevel, &kNone};
    const Signal& signal = waveform.signals[static_cast<size_t>(channel.signal)];
    return {signal.initialLevel, &signal.changes};
}

// The first index at or after `from` whose value is not below `value`:
// steps that double, then a bisection, so walking a short list against a
// long one costs little more than the short one's length.
size_t Gallop(const std::vector<uint32_t>& list, size_t from, uint32_t value) {
    size_t low = from, high = from, step = 1;
    while (high < list.size() && list[high] < value) {
        low = high + 1;
        high += step;
        step *= 2;
    }
    high = std::min(high, list.size());
    return static_cast<size_t>(std::lower_bound(list.begin() + static_cast<ptrdiff_t>(low),
                                                list.begin() + static_cast<ptrdiff_t>(high), value) -
                               list.begin());
}

bool CycleRecordAt(const RecordList& records, uint32_t position) {
    size_t low = 0, high = records.size();
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        if (records[middle].position < position) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    for (size_t i = low; i < records.size() && records[i].position == position; ++i) {
        const uint16_t id = records[i].fieldId;
        if (id >= kFirstCycleField && id <= kLastCycleField) return true;
    }
    return false;
}

}  // namespace

WindowBounds DecodeBounds(const DecodeWindow& window, uint32_t endPosition) {
    WindowBounds bounds{window.hasStart ? window.start : 0, endPosition};
    if (window.hasRange) {
        bounds.start = std::max(bounds.start, window.rangeStart);
        bounds.end = window.rangeEnd;
    }
    return bounds;
}

StrobeFacts GatherStrobeFacts(const Waveform& waveform, const ChannelPlan& plan, WindowBounds bounds) {
    StrobeFacts facts;
    facts.bounds = bounds;
    for (int role = 0; role < kBusRoleCount && role < static_cast<int>(plan.channels.size()); ++role) {
        const int signal = plan.channels[static_cast<size_t>(role)].signal;
        facts.names[role] = signal >= 0 ? waveform.signals[static_cast<size_t>(signal)].name : RoleName(role);
    }
    if (plan.channels.size() < static_cast<size_t>(kBusRoleCount) || bounds.end <= bounds.start) return facts;
    const Line dmack = RoleLine(waveform, plan, kDmack);
    const Line strobes[2] = {RoleLine(waveform, plan, kIord), RoleLine(waveform, plan, kIowr)};

    for (int which = 0; which < 2; ++which) {
        const Line& strobe = strobes[which];
        const Line& other = strobes[1 - which];
        const std::vector<uint32_t>& changes = *strobe.changes;
        // Its last change up to the window's end: a fall inside the window
        // with no rise after it. A rise at the end itself leaves the cycle
        // its true last sample.
        const auto upTo = std::upper_bound(changes.begin(), changes.end(), bounds.end) - changes.begin();
        if (upTo > 0) {
            const uint32_t last = changes[static_cast<size_t>(upTo - 1)];
            const int levelAfter = (strobe.initial ^ static_cast<int>(upTo & 1)) & 1;
            if (last < bounds.end && last > bounds.start && levelAfter == 0)
                facts.heldAtEnd.push_back({kIord + which, last});
        }
        if (strobe.LevelAt(bounds.start) == 0 && other.LevelAt(bounds.start) == 1 &&
            dmack.LevelAt(bounds.start) == 1 && strobe.ChangesBetween(bounds.start, bounds.end))
            facts.assertedAtStart.push_back(kIord + which);
    }

    // The shorter list walked against the longer: a capture of Ultra DMA
    // bursts toggles one strobe millions of times and STOP a few.
    const std::vector<uint32_t>* shorter = strobes[0].changes;
    const std::vector<uint32_t>* longer = strobes[1].changes;
    if (shorter->size() > longer->size()) std::swap(shorter, longer);
    size_t at = 0;
    for (auto i = std::upper_bound(shorter->begin(), shorter->end(), bounds.start);
         i != shorter->end() && *i < bounds.end; ++i) {
        at = Gallop(*longer, at, *i);
        if (at == longer->size()) break;
        if ((*longer)[at] != *i) continue;
        // DMACK- moving at the same position may be the end of a burst.
        if (dmack.LevelAt(*i) != 1 || dmack.LevelAt(*i - 1) != 1) continue;
        if (facts.collisions++ == 0) facts.firstCollision = *i;
    }
    return facts;
}

std::vector<std::string> StrobeWarnings(const StrobeFacts& facts, const RecordList& records,
                                        uint64_t timeStep) {
    std::vector<std::string> lines;
    auto at = [timeStep](uint32_t position) { return std::to_string(position * timeStep); };
    for (int role : facts.assertedAtStart) {
        lines.push_back(facts.names[role] + " is already asserted at the start of the decode window (" +
                        at(facts.bounds.start) + "): the cycle under way there is not decoded");
    }
    for (const StrobeFacts::Held& held : facts.heldAtEnd) {
        if (!CycleRecordAt(records, held.fall)) continue;
        lines.push_back(facts.names[held.role] + " is still asserted at the end of the decode window (" +
                        at(facts.bounds.end) + "): the data of the cycle at " + at(held.fall) +
                        " were taken at " + at(facts.bounds.end - 1) + ", the window's last sample");
    }
    if (facts.collisions > 0) {
        lines.push_back(std::to_string(facts.collisions) +
                        (facts.collisions == 1 ? " position" : " positions") + " where " +
                        facts.names[kIord] + " and " + facts.names[kIowr] + " change together outside DMA " +
                        (facts.collisions == 1 ? "was" : "were") + " not decoded (the first at " +
                        at(facts.firstCollision) + ")");
    }
    return lines;
}

}  // namespace fd::host
