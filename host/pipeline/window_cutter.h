// Where a capture can be cut into decode windows that change nothing. The
// decoder's transfer state starts afresh at every SELECT CARD/HEAD write
// (register copies, word count, burst direction; no START pending after
// it), so a window that begins at the sample such a write's strobe falls
// gives the records a decode of the whole capture gives from there on.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "host/model/waveform.h"

namespace fd::host {

// The ten control lines the cut rule reads, in the plug-in's binding order:
// DMARQ, DMACK, CS1, CS0, A0, A1, A2, IORD, IOWR, IORDY.
inline constexpr int kCutLines = 10;

struct CutOptions {
    // A window is closed at the first cut point after this many transitions
    // (all channels together) since the window began.
    uint64_t windowTransitions = uint64_t{1} << 20;
    // No window may span more positions than this (they are handed to the
    // plug-in rebased, in 32 bits).
    uint64_t maxSpan = (uint64_t{1} << 32) - 16;
};

// The positions where the window after a cut begins: ascending, each
// strictly inside (first, end), where `first` is the first position the
// decode visits and `end` the position it stops before. A cut falls where
// DIOW- falls on the CARD/HEAD register (CS0- asserted, CS1- and DMACK-
// negated, A2..A0 = 6) while DIOR- stays high and neither DIOR- nor IORDY
// moves. `channels` are the plug-in's channels in list order, the roles
// first in their binding order.
std::vector<uint64_t> FindCuts(std::span<const Signal* const> channels, uint64_t first, uint64_t end,
                               const CutOptions& options);

// Transitions of all `channels` at positions in [from, to).
uint64_t TransitionsBetween(std::span<const Signal* const> channels, uint64_t from, uint64_t to);

}  // namespace fd::host
