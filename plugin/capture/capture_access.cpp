#include "plugin/capture/capture_access.h"

namespace fd {

int32_t TransitionCount(const FdChannel& channel) {
    const FdTransitionList* list = channel.transitions;
    if (list == nullptr || list->positions == nullptr || list->count < 0) return 0;
    return list->count;
}

int32_t FindTransition(const FdChannel& channel, uint32_t position) {
    // Bisection over indexes only: whatever the array holds, every index read
    // stays inside [0, last].
    const uint32_t* p = channel.transitions->positions;
    const int32_t last = TransitionCount(channel) - 1;
    int32_t lo = 0;
    int32_t hi = last;
    for (;;) {
        if (lo >= hi) return lo;
        const int32_t mid = lo + (hi - lo) / 2;
        if (p[mid] > position) {
            hi = mid;
            continue;
        }
        if (p[mid + 1] > position) return mid;
        lo = mid;
        if (mid + 1 == last) return last;
    }
}

bool ReadLevel(const FdChannel& channel, uint32_t position, int& level) {
    const int32_t count = TransitionCount(channel);
    if (count == 0) return false;
    const int32_t index = count == 1 ? 0 : FindTransition(channel, position);
    level = (index % 2 == 0) ? 1 : 0;
    return true;
}

int Level(const FdChannel& channel, uint32_t position) {
    int level = 0;
    ReadLevel(channel, position, level);
    return level;
}

bool IsRisingEdge(const FdChannel& channel, uint32_t position) {
    return position != 0 && Level(channel, position) == 1 && Level(channel, position - 1) == 0;
}

bool IsFallingEdge(const FdChannel& channel, uint32_t position) {
    return position != 0 && Level(channel, position) == 0 && Level(channel, position - 1) == 1;
}

int EdgeKind(const FdChannel& channel, uint32_t position) {
    if (IsRisingEdge(channel, position)) return kEdgeRising;
    if (IsFallingEdge(channel, position)) return kEdgeFalling;
    return kEdgeNone;
}

uint32_t LevelHeldUntil(const uint32_t* positions, int32_t count, int32_t governing, uint32_t position,
                        uint32_t limit) {
    // The level at a position is read off the last transition at or before
    // it, so equal neighbours (a pulse of no width) change nothing: a group
    // of them counts by its last member.
    const int32_t from = governing & 1;
    for (int32_t j = governing + 1; j < count; ++j) {
        const uint32_t x = positions[j];
        if (x >= limit) return limit;
        while (j + 1 < count && positions[j + 1] == x) ++j;
        if ((j & 1) != from && x > position) return x;
    }
    return limit;
}

uint32_t LevelHeldUntil(const FdChannel& channel, uint32_t position, uint32_t limit) {
    const int32_t count = TransitionCount(channel);
    if (count < 2) return limit;  // a level that never changes
    return LevelHeldUntil(channel.transitions->positions, count, FindTransition(channel, position), position,
                          limit);
}

uint32_t CaptureStart(const FdCapture& capture) {
    return capture.hasStartPosition ? capture.startPosition : 0;
}

}  // namespace fd
