// Level and edge questions on one channel of the host's capture. A channel is
// a sorted list of the positions where its level changes: the level is 1
// from the first position on (and before it), 0 from the second, and so on.
// Every question is a bisection in that list; nothing is cached.
#pragma once

#include <cstdint>

#include "plugin/interface/host_abi.h"

namespace fd {

inline constexpr int kEdgeRising = 0;
inline constexpr int kEdgeFalling = 1;
inline constexpr int kEdgeNone = -1;

// Number of transitions; a channel without a list (or a negative count) has
// none.
int32_t TransitionCount(const FdChannel& channel);

// Index of the transition governing `position`; needs two or more.
int32_t FindTransition(const FdChannel& channel, uint32_t position);

// False (level untouched) when the channel has no transitions.
bool ReadLevel(const FdChannel& channel, uint32_t position, int& level);

int Level(const FdChannel& channel, uint32_t position);
bool IsRisingEdge(const FdChannel& channel, uint32_t position);
bool IsFallingEdge(const FdChannel& channel, uint32_t position);
int EdgeKind(const FdChannel& channel, uint32_t position);

// The first position after `position`, and before `limit`, at which the
// level differs from the level at `position`; `limit` when the level holds
// that long. Where a strobe pulse ends. On a list out of order the answer is
// unspecified but lies in (position, limit] once position < limit.
uint32_t LevelHeldUntil(const FdChannel& channel, uint32_t position, uint32_t limit);
// The same, scanning the transitions after index `governing` (the one that
// governs `position`) of `count` sorted positions.
uint32_t LevelHeldUntil(const uint32_t* positions, int32_t count, int32_t governing, uint32_t position,
                        uint32_t limit);

uint32_t CaptureStart(const FdCapture& capture);

}  // namespace fd
