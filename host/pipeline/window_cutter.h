// Where a capture can be cut into decode windows that change nothing. The
// decoder's transfer state starts afresh at every SELECT CARD/HEAD write
// (register copies, word count, burst direction; no START pending after
// it), so a window that begins at the sample such a write's strobe falls
// gives the records a decode of the whole capture gives from there on.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace fd::host {

// The control lines the cut rule reads, in the plug-in's binding order
// (the host's channels 0 to 9).
enum CutLine : size_t {
    kCutDmarq,
    kCutDmack,
    kCutCs1,
    kCutCs0,
    kCutA0,
    kCutA1,
    kCutA2,
    kCutIord,
    kCutIowr,
    kCutIordy
};
inline constexpr size_t kCutLines = 10;

// The lines at a sample where DIOW- changes.
struct CutSnapshot {
    std::array<uint8_t, kCutLines> level{};  // after the sample's changes
    bool iordMoves = false;
    bool iordyMoves = false;
};

// A cut point: DIOW- falls on the CARD/HEAD register (CS0- asserted, CS1-
// and DMACK- negated, A2..A0 = 6) while DIOR- stays high and neither DIOR-
// nor IORDY moves.
constexpr bool IsCutPoint(const CutSnapshot& s) {
    const auto& l = s.level;
    return l[kCutIowr] == 0 && l[kCutIord] == 1 && !s.iordMoves && !s.iordyMoves && l[kCutDmack] == 1 &&
           l[kCutCs1] == 1 && l[kCutCs0] == 0 && l[kCutA2] == 1 && l[kCutA1] == 1 && l[kCutA0] == 0;
}

}  // namespace fd::host
