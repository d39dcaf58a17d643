#include "plugin/decoder/signal_access.h"

namespace fd {

SignalAccess::SignalAccess(const ChannelBinding& binding) {
    for (size_t i = 0; i < lines_.size(); ++i) {
        const FdChannel& channel = *binding[i];
        lines_[i].count = TransitionCount(channel);
        lines_[i].positions = lines_[i].count > 0 ? channel.transitions->positions : nullptr;
    }
}

// The governing transition is the last one at or before `position` (the
// first when none is); an even index reads 1. From the cursor, gallop
// forward or backward to bracket it, then bisect the bracket.
int SignalAccess::LineLevel(Cursor& line, uint32_t position) {
    if (line.count == 0) return 0;
    if (line.count == 1) return 1;
    const uint32_t* p = line.positions;
    const int64_t last = line.count - 1;
    int64_t lo;  // p[lo] <= position, or lo == -1
    int64_t hi;  // p[hi] > position, or hi == last + 1
    if (p[line.at] <= position) {
        lo = line.at;
        int64_t step = 1;
        hi = lo + 1;
        while (hi <= last && p[hi] <= position) {
            lo = hi;
            step *= 2;
            hi = lo + step;
        }
        if (hi > last + 1) hi = last + 1;
    } else {
        hi = line.at;
        int64_t step = 1;
        lo = hi - 1;
        while (lo >= 0 && p[lo] > position) {
            hi = lo;
            step *= 2;
            lo = hi - step;
        }
        if (lo < -1) lo = -1;
    }
    while (hi - lo > 1) {
        const int64_t mid = lo + (hi - lo) / 2;
        if (p[mid] <= position) {
            lo = mid;
        } else {
            hi = mid;
        }
    }
    line.at = static_cast<int32_t>(lo < 0 ? 0 : lo);
    return line.at % 2 == 0 ? 1 : 0;
}

int SignalAccess::EdgeKind(Signal signal, uint32_t position) const {
    if (position == 0) return kEdgeNone;
    Cursor& line = Line(signal);
    const int before = LineLevel(line, position - 1);
    const int now = LineLevel(line, position);
    if (now == before) return kEdgeNone;
    return now == 1 ? kEdgeRising : kEdgeFalling;
}

uint32_t SignalAccess::DataBits(uint32_t position, int lines) const {
    uint32_t value = 0;
    for (int n = 0; n < lines; ++n) {
        Cursor& line = lines_[static_cast<size_t>(Signal::D0) + static_cast<size_t>(n)];
        value |= static_cast<uint32_t>(LineLevel(line, position)) << n;
    }
    return value;
}

int SignalAccess::CycleCode(uint32_t position) const {
    return Level(Signal::A0, position) | Level(Signal::A1, position) << 1 |
           Level(Signal::A2, position) << 2 | Level(Signal::Cs0, position) << 3 |
           Level(Signal::Cs1, position) << 4 | Level(Signal::Dmack, position) << 5;
}

bool SignalAccess::InDmaBurst(uint32_t position) const {
    return Level(Signal::Cs0, position) == 1 && Level(Signal::Cs1, position) == 1 &&
           Level(Signal::Dmack, position) == 0 && Level(Signal::Dmarq, position) == 1;
}

}  // namespace fd
