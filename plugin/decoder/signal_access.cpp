#include "plugin/decoder/signal_access.h"

namespace fd {
namespace {

// A channel without transitions reads 0 everywhere, as a list holding two
// zeros does; the cursors then need no special case for it.
constexpr uint32_t kNoTransitions[2] = {0, 0};

int EdgeFrom(int before, int now) {
    if (now == before) return kEdgeNone;
    return now == 1 ? kEdgeRising : kEdgeFalling;
}

}  // namespace

SignalAccess::SignalAccess(const ChannelBinding& binding, QueryPath path) : path_(path) {
    for (size_t i = 0; i < lines_.size(); ++i) {
        channels_[i] = binding[i];
        const int32_t count = TransitionCount(*binding[i]);
        if (count == 0) {
            lines_[i].positions = kNoTransitions;
            lines_[i].count = 2;
        } else {
            lines_[i].positions = binding[i]->transitions->positions;
            lines_[i].count = count;
        }
    }
}

// The governing transition is the last one at or before `position` (the
// first when none is); an even index reads 1. Usually it is the cursor's
// transition or the next one: one step, without a branch on the data.
inline int SignalAccess::Seek(Cursor& line, uint32_t position) {
    const uint32_t* p = line.positions;
    int32_t at = line.at;
    if (p[at] > position) return Gallop(line, position);
    if (at + 1 < line.count) {
#if defined(__GNUC__)
        // Twenty-six lists are walked side by side, more streams than the
        // hardware prefetcher follows: ask for the next lines ahead.
        __builtin_prefetch(p + at + 48);
#endif
        at += p[at + 1] <= position ? 1 : 0;
        if (at + 1 < line.count && p[at + 1] <= position) return Gallop(line, position);
        line.at = at;
    }
    return ~at & 1;
}

// From the cursor, gallop forward or backward to bracket the governing
// transition, then bisect the bracket.
int SignalAccess::Gallop(Cursor& line, uint32_t position) {
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
    return ~line.at & 1;
}

// The transitions at `position` itself are the ones between the level
// before it and the level at it; the cursor stands on the last of them.
inline int SignalAccess::LevelBefore(const Cursor& line, uint32_t position) {
    int32_t j = line.at;
    while (j >= 0 && line.positions[j] == position) --j;
    return j <= 0 ? 1 : (~j & 1);
}

void SignalAccess::Visit(uint32_t position) {
    if (path_ == QueryPath::Bisection) return;
    uint32_t levels = 0;
    for (unsigned i = 0; i < kControlLines; ++i) {
        Cursor& line = lines_[i];
        const int now = Seek(line, position);
        levels |= static_cast<uint32_t>(now) << i;
        if (i - kFirstStrobe < kStrobes) {
            edges_[i - kFirstStrobe] =
                static_cast<int8_t>(position == 0 ? kEdgeNone : EdgeFrom(LevelBefore(line, position), now));
        }
    }
    levels_ = levels;
    snapshotAt_ = position;
    hasSnapshot_ = true;
    hasWord_ = false;
}

int SignalAccess::LineLevel(unsigned line, uint32_t position) const {
    if (path_ == QueryPath::Bisection) return fd::Level(*channels_[line], position);
    return Seek(lines_[line], position);
}

int SignalAccess::LineEdge(unsigned line, uint32_t position) const {
    if (path_ == QueryPath::Bisection) return fd::EdgeKind(*channels_[line], position);
    if (position == 0) return kEdgeNone;
    Cursor& cursor = lines_[line];
    const int now = Seek(cursor, position);
    return EdgeFrom(LevelBefore(cursor, position), now);
}

uint32_t SignalAccess::LevelHeldUntil(Signal signal, uint32_t position, uint32_t limit) const {
    const auto index = static_cast<unsigned>(signal);
    if (path_ == QueryPath::Bisection) return fd::LevelHeldUntil(*channels_[index], position, limit);
    Cursor& line = lines_[index];
    Seek(line, position);
    return fd::LevelHeldUntil(line.positions, line.count, line.at, position, limit);
}

uint32_t SignalAccess::SampleData(uint32_t position) const {
    uint32_t value = 0;
    for (unsigned n = 0; n < kDataLines; ++n) {
        value |= static_cast<uint32_t>(Seek(lines_[kControlLines + n], position)) << n;
    }
    return value;
}

uint32_t SignalAccess::DataBits(uint32_t position, int lines) const {
    const uint32_t mask = (uint32_t{1} << lines) - 1;
    if (position == snapshotAt_ && hasSnapshot_) {
        if (!hasWord_) {
            word_ = SampleData(position);
            hasWord_ = true;
        }
        return word_ & mask;
    }
    if (path_ == QueryPath::Cursors) return SampleData(position) & mask;
    uint32_t value = 0;
    for (int n = 0; n < lines; ++n) {
        value |= static_cast<uint32_t>(fd::Level(*channels_[kControlLines + n], position)) << n;
    }
    return value;
}

LineFollower::LineFollower(const ChannelBinding& binding) {
    std::fill(std::begin(next_), std::end(next_), kNever);
    for (int i = 0; i < kBusRoleCount; ++i) {
        const FdChannel& channel = *binding[static_cast<size_t>(i)];
        const int32_t count = TransitionCount(channel);
        if (count == 0) continue;
        const uint32_t* list = channel.transitions->positions;
        at_[i] = list + 1;
        end_[i] = list + count;
        next_[i] = count > 1 ? list[1] : kNever;
        levels_ |= 1u << i;
    }
}

const uint32_t* LineFollower::SkipPast(const uint32_t* from, const uint32_t* end, uint32_t position) {
    const ptrdiff_t count = end - from;
    ptrdiff_t lo = 0;  // from[lo] <= position
    ptrdiff_t step = 1;
    ptrdiff_t hi = 1;
    while (hi < count && from[hi] <= position) {
        lo = hi;
        step *= 2;
        hi = lo + step;
    }
    if (hi > count) hi = count;
    while (hi - lo > 1) {  // from[hi] > position, or hi == count
        const ptrdiff_t mid = lo + (hi - lo) / 2;
        if (from[mid] <= position) {
            lo = mid;
        } else {
            hi = mid;
        }
    }
    return from + hi;
}

}  // namespace fd
