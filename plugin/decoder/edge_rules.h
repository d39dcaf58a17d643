// The decode rules, once: what a strobe edge records, decided from the ten
// control levels at it, which strobes changed there and the Ultra DMA
// burst's direction so far, and how that direction follows the lines.
// The per-position decoders (FollowBurst, DecodeDmaWord,
// DecodeRegisterCycle) ask them at one position; the cursor path tabulates
// them once per snapshot of the lines.
#pragma once

#include <cstdint>

#include "plugin/decoder/decode_state.h"
#include "plugin/decoder/signal_access.h"

namespace fd {

// What the decoders make of one strobe edge.
enum class EdgeAction : uint8_t {
    None,
    WordToCard,
    WordToHost,
    RegisterRead,
    RegisterWrite,
    // Multiword DMA by the cycle code: still to be checked against DMARQ
    // before the fall and the other strobe over the pulse.
    MultiwordRead,
    MultiwordWrite,
};

constexpr unsigned Bit(Signal signal) { return 1u << static_cast<unsigned>(signal); }
inline constexpr unsigned kStrobeShift = static_cast<unsigned>(Signal::Iord);  // IORD, IOWR, IORDY adjacent
inline constexpr unsigned kControlMask = (1u << kControlLines) - 1;

// The lines at one position: the control levels (a bit per line in binding
// order) and, in the same bits, the strobes that changed there.
struct LineSnapshot {
    uint32_t levels;
    uint32_t changed;
};
LineSnapshot SnapshotAt(const SignalAccess& signals, uint32_t position);

// The cycle code of SignalAccess::CycleCode from the control levels.
constexpr int SnapshotCycleCode(uint32_t levels) {
    const auto at = [levels](Signal s) { return static_cast<int>(levels >> static_cast<unsigned>(s) & 1u); };
    return at(Signal::A0) | at(Signal::A1) << 1 | at(Signal::A2) << 2 | at(Signal::Cs0) << 3 |
           at(Signal::Cs1) << 4 | at(Signal::Dmack) << 5;
}

// The edge's action. Two strobes changing at one sample make no cycle that
// can be trusted; outside DMA (DMACK negated) IORDY is no strobe but the
// card's wait line, which it may negate in the very sample the strobe falls.
EdgeAction Decide(uint32_t levels, uint32_t changed, BurstDirection burst);

// The burst's direction from here on, given the one so far: forgotten when
// STOP (IOWR) is asserted or moves, or DMACK is negated; learnt when, with
// DMACK asserted, STOP negated and no direction known, one of IORD and
// IORDY falls while the other stays high (the receiver asserting its ready
// line as the burst opens).
BurstDirection FollowedBurst(uint32_t levels, uint32_t changed, BurstDirection burst);

// Records what `action` at `position` records: `levels` and `word` are the
// lines there; `ahead` answers where a register or multiword DMA cycle
// looks past its strobe's fall (to the pulse's end, the data there, DMARQ
// just before). False when a multiword DMA cycle fails those checks.
bool TakeAction(EdgeAction action, const SignalAccess& ahead, uint32_t position, uint32_t levels,
                uint32_t word, uint32_t windowEnd);

}  // namespace fd
